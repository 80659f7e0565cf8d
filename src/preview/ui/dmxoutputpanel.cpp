#include "dmxoutputpanel.h"

#include "preview/core/previewengine.h"
#include "preview/ola/oladmxclient.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace vl {

namespace {

const QString kGold = QStringLiteral("rgb(255, 215, 0)");

}  // namespace

// ---- the settings dialog ----

DmxOutputDialog::DmxOutputDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("dmxOutputDialog"));
    setWindowTitle(QStringLiteral("DMX Output"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    m_first = new QSpinBox(this);
    m_second = new QSpinBox(this);
    for (QSpinBox *box : {m_first, m_second})
        box->setRange(0, DmxOutputSettings::kMaxUniverse);
    m_blackout = new QCheckBox(QStringLiteral("Blackout on exit"), this);
    m_blackout->setToolTip(QStringLiteral("Turning the output off, closing the preview and quitting send a frame of "
                                          "zeros to both universes"));
    m_problem = new QLabel(this);
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("OLA universe of DMX 1-512"), m_first);
    form->addRow(QStringLiteral("OLA universe of DMX 513-1024"), m_second);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_blackout);
    layout->addWidget(m_problem);
    layout->addWidget(m_buttons);

    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (QSpinBox *box : {m_first, m_second})
        connect(box, QOverload<int>::of(&QSpinBox::valueChanged), this, &DmxOutputDialog::check);
    setSettings(DmxOutputSettings());
}

QPushButton *DmxOutputDialog::okButton() const { return m_buttons->button(QDialogButtonBox::Ok); }

void DmxOutputDialog::setSettings(const DmxOutputSettings &settings)
{
    m_first->setValue(int(settings.firstUniverse));
    m_second->setValue(int(settings.secondUniverse));
    m_blackout->setChecked(settings.blackoutOnExit);
    check();
}

DmxOutputSettings DmxOutputDialog::settings() const
{
    DmxOutputSettings s;
    s.firstUniverse = unsigned(m_first->value());
    s.secondUniverse = unsigned(m_second->value());
    s.blackoutOnExit = m_blackout->isChecked();
    return s;
}

void DmxOutputDialog::check()
{
    const bool valid = settings().isValid();
    m_problem->setText(valid ? QString() : QStringLiteral("The two ports need two different universes."));
    m_problem->setVisible(!valid);
    okButton()->setEnabled(valid);
}

// ---- the panel ----

DmxOutputPanel::DmxOutputPanel(PreviewEngine &engine, QWidget *parent, DmxClient *client, Scheduler &timers)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("dmxOutputPanel"));
    if (!client) {
        m_ownClient = std::make_unique<OlaDmxClient>();
        client = m_ownClient.get();
    }
    m_output = std::make_unique<DmxOutput>(*client, timers);
    m_output->setSettings(DmxOutputSettings::load());
    connect(&engine, &PreviewEngine::levelApplied, m_output.get(), &DmxOutput::setLevel);
    connect(m_output.get(), &DmxOutput::stateChanged, this, &DmxOutputPanel::showStatus);

    m_enable = new QCheckBox(checkBoxText(), this);
    m_enable->setObjectName(QStringLiteral("dmxOutputBox"));
    m_enable->setStyleSheet(QStringLiteral("QCheckBox { color: %1; }").arg(kGold));
    m_enable->setToolTip(QStringLiteral("Send the preview's levels to real lights through the Open Lighting "
                                        "Architecture's daemon (olad)"));
    m_settingsButton = new QPushButton(QStringLiteral("Settings…"), this);
    m_settingsButton->setObjectName(QStringLiteral("dmxOutputSettings"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("dmxOutputStatus"));
    m_status->setTextFormat(Qt::RichText);
    m_status->setOpenExternalLinks(true);
    m_status->setTextInteractionFlags(Qt::TextBrowserInteraction);
    m_status->setStyleSheet(QStringLiteral("QLabel { color: #e6e6e6; font-size: 12px; }"));
    // A long line is cut by the window rather than widen it.
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_dialog = new DmxOutputDialog(this);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_enable);
    row->addWidget(m_settingsButton);
    row->addWidget(m_status, 1);

    connect(m_enable, &QCheckBox::toggled, this, &DmxOutputPanel::apply);
    connect(m_settingsButton, &QPushButton::clicked, this, &DmxOutputPanel::openSettings);
    connect(m_dialog, &QDialog::accepted, this, &DmxOutputPanel::settingsAccepted);

    // The window opening and closing starts and stops the output.
    window()->installEventFilter(this);
    m_windowOpen = window()->isVisible();
    showStatus();
}

DmxOutputPanel::~DmxOutputPanel()
{
    // The output goes first, with its blackout, while its client is still there; the
    // line says nothing more.
    disconnect(m_output.get(), nullptr, this, nullptr);
    m_output.reset();
}

bool DmxOutputPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window()) {
        if (event->type() == QEvent::Show && !event->spontaneous()) {
            m_windowOpen = true;
            apply();
        } else if (event->type() == QEvent::Close) {
            // After the window has had its say: a close it refuses changes nothing.
            QTimer::singleShot(0, this, [this] {
                if (!window()->isVisible()) {
                    m_windowOpen = false;
                    apply();
                }
            });
        }
    }
    return QWidget::eventFilter(watched, event);
}

void DmxOutputPanel::apply()
{
    m_output->setEnabled(m_enable->isChecked() && m_windowOpen);
    showStatus();
}

void DmxOutputPanel::showStatus()
{
    QString text = m_output->statusText().toHtmlEscaped();
    const QString page = DmxOutput::daemonWebPage();
    text.replace(page, QStringLiteral("<a href=\"%1\" style=\"color: %2;\">%1</a>").arg(page, kGold));
    m_status->setText(text);
    m_status->setToolTip(m_output->statusText());
}

void DmxOutputPanel::openSettings()
{
    m_dialog->setSettings(m_output->settings());
    m_dialog->open();
}

void DmxOutputPanel::settingsAccepted()
{
    const DmxOutputSettings s = m_dialog->settings();
    if (!m_output->setSettings(s))
        return;
    s.save();
    showStatus();
}

}  // namespace vl
