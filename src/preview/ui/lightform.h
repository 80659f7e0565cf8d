#pragma once

// The light preview window: the stage with its fixtures and the fixture details panel,
// the MIDI output controls, the Note and After Touch keyboards and the strip of 128
// controller faders. The editor creates it hidden, hands it the rule table and the
// remarks, and keeps it current through PreviewSink; what the preview decides lives in
// PreviewCore, and the window only shows it.
//
// Repaints of the stage and of the fader strip go through frame limiters: at most 50
// frames a second, and no timer at all while nothing changes. The one timer that always
// runs is the MIDI port list's refresh every second.

#include "ccfaders.h"
#include "preview/core/previewcore.h"
#include "preview/core/previewsink.h"

#include <QPointer>
#include <QRegion>
#include <QSet>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QDialog;
class QGraphicsItem;
class QGraphicsProxyWidget;
class QGraphicsScene;
class QGraphicsView;
class QHBoxLayout;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QScrollArea;
class QShortcut;
class QStandardItemModel;
class QTableView;

namespace vl {

class AddFixtureDialog;
class FixtureDetailsDialog;
class FrameLimiter;
class KeyboardWidget;
class MyResizablePixmapItem;
class ResizableGraphicsProxyWidget;
class StageController;
class MidiOutputPanel;
class MidiPanelSender;
class QMidiOut;

class light_Form : public QWidget, public PreviewSink {
    Q_OBJECT
public:
    // midiOut: the MIDI output to use (taken over); null makes one on the computer's MIDI
    // system.
    explicit light_Form(QWidget *parent = nullptr, QMidiOut *midiOut = nullptr);
    ~light_Form() override;

    // The editor's models (not owned); null ones are ignored.
    void setRuleModel(QStandardItemModel *model);
    void setRemarkModel(QStandardItemModel *model);

    PreviewCore &core() { return *m_core; }
    // The fixtures on the stage: Add, Edit, Remove.
    StageController *stageController() const { return m_stage; }
    MidiOutputPanel *midiPanel() const { return m_midiPanel; }

    // ---- PreviewSink: what the editor tells the preview ----
    void rebuildRuleSnapshots() override;
    void refreshCcFaders() override;
    void markNoteKeys() override;
    void markAtKeys() override;
    void refreshFixtureDmxChannels() override;
    void refreshDetailsPanel() override;
    void setCoefficient(double coefficient) override;
    void setNaming(int cnum) override;
    void ruleCellChanged(int row, int column, const QString &text) override;
    void ruleRemarkChanged(int row, const QString &text) override;
    void ruleRowInserted(int sn) override;
    void ruleRowsDeleted(int first, int last) override;
    void showMaximized() override { QWidget::showMaximized(); }
    void show() override { QWidget::show(); }
    void close() override { QWidget::close(); }

    double previewCoefficient() const;

    // ---- the panels ----
    // Appends a fader column for a controller (the constructor adds "0" … "127").
    void addCcFader(const QString &label);
    const QList<CcFader> &ccFaders() const { return m_faders; }
    bool isRuleEnabled(const QString &status, const QString &number, const QString &channel) const;
    // The "MIDI Channel" choice, 1 … 16.
    int midiChannel() const;

    KeyboardWidget *noteKeyboard = nullptr;
    KeyboardWidget *atKeyboard = nullptr;
    bool noteHold = false;
    bool atHold = false;

    // ---- the stage ----
    // Places the details button (and the panel right of it) for the visible part of the
    // stage; an empty rectangle changes nothing.
    void positionDetailsPanel(const QRectF &visibleStage);
    // The part of the scene the stage's view shows.
    QRectF visibleStageRect() const;
    // Opens the details panel on a fixture of the registry; an unknown name changes nothing.
    void showFixtureDetails(const QString &name);
    // Asks for a picture and puts it on the stage as a background ("Select the background
    // picture").
    void selectBackgroundPicture();
    // Puts a picture on the stage, centred, below every fixture.
    MyResizablePixmapItem *addBackgroundPicture(const QString &path);
    // How the stage's context menu is run; tests answer it. The default shows it at the
    // pointer and returns the chosen entry.
    void setMenuRunner(std::function<QAction *(QMenu &, const QPoint &)> runner) { m_menuRunner = std::move(runner); }

    // ---- the MIDI message log ----
    void logMidiMessage(const QString &event, int channel, const QString &numberText, const QString &valueText);

    // ---- project commands ("File" menu, Ctrl+C) ----
    // "New Project": asks for a name; the stage empties and the next Save asks for a file.
    void on_pushButton_8_clicked();
    // "Save Project As": asks for a file and writes the fixtures there.
    void on_pushButton_3_clicked2();
    // The project's file: empty until a project was opened or saved as.
    QString projectPath() const { return m_core->session().projectPath(); }

    // The designed widgets, by their form names.
    QWidget *widget = nullptr;
    QWidget *widget_2 = nullptr;
    QWidget *widget_3 = nullptr;
    QWidget *widget_4 = nullptr;
    QWidget *widget_5 = nullptr;
    QMenuBar *menuBar = nullptr;
    QPushButton *pushButton = nullptr;
    QPushButton *pushButton_2 = nullptr;
    QPushButton *pushButton_3 = nullptr;
    QPushButton *pushButton_4 = nullptr;
    QPushButton *pushButton_5 = nullptr;
    QPushButton *pushButton_7 = nullptr;
    QGraphicsView *graphicsView = nullptr;
    QGraphicsScene *scene = nullptr;
    QLabel *label = nullptr;
    QLabel *label_2 = nullptr;
    QComboBox *comboBox = nullptr;
    QComboBox *comboBox_2 = nullptr;
    QCheckBox *checkBox = nullptr;
    QCheckBox *checkBox_2 = nullptr;
    QCheckBox *checkBox_3 = nullptr;
    QCheckBox *noteHoldBox = nullptr;
    QCheckBox *atHoldBox = nullptr;
    QScrollArea *faderArea = nullptr;
    QWidget *faderStrip = nullptr;
    QShortcut *saveShortcut = nullptr;

    // The fixture dialog and the details panel on the stage.
    AddFixtureDialog *fixtureDialog = nullptr;
    FixtureDetailsDialog *detailsDialog = nullptr;
    ResizableGraphicsProxyWidget *detailsProxy = nullptr;
    QPushButton *detailsButton = nullptr;
    QGraphicsProxyWidget *detailsButtonProxy = nullptr;

    QDialog *midiMessageDialog = nullptr;
    QTableView *midiMessageTable = nullptr;

    // Repaint pacing of the stage and the fader strip.
    FrameLimiter *stageFrames() const { return m_stageFrames; }
    FrameLimiter *faderFrames() const { return m_faderFrames; }

public slots:
    void rec_combin(int num);
    void onToggleChanged1(int state);
    void onToggleChanged2(int state);
    void onNoteOn(int note, int velocity);
    void onNoteOff(int note, int velocity);

    // Bound by object name.
    void on_pushButton_clicked();
    void on_pushButton_2_clicked();
    void on_pushButton_3_clicked();  // "Save Project" (also Ctrl+C)
    void on_pushButton_4_clicked();  // "Open Project" (also "test2")
    void on_pushButton_7_clicked();
    void on_comboBox_2_currentIndexChanged(int index);
    void on_checkBox_clicked(bool checked);
    void on_checkBox_2_clicked(bool checked);
    void on_checkBox_3_clicked(bool checked);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWidgets();
    void buildMenu();
    void buildStage();
    void buildKeyboards(int screenWidth);
    QWidget *holdRow(const QString &name, int space, QCheckBox **box);
    void buildMessageLog();
    void markKeys(KeyboardWidget *keyboard, const KeyMarks &marks);
    void setDetailsIcon(const QString &picture);
    bool detailsButtonEvent(QEvent *event);
    void faderMoved(int index, int value);
    void stageChanged(const QList<QRectF> &rects);
    void paintStageFrame();
    void paintFaderFrame();
    // The picture of the first stage item of every fixture name, as the project file
    // names it.
    QHash<QString, QString> itemPictures() const;
    void showSaveResult(const ProjectWrite &result);

    std::unique_ptr<PreviewCore> m_core;
    StageController *m_stage = nullptr;
    MidiOutputPanel *m_midiPanel = nullptr;
    std::unique_ptr<MidiPanelSender> m_sender;
    QList<CcFader> m_faders;
    QHBoxLayout *m_faderLayout = nullptr;

    FrameLimiter *m_stageFrames = nullptr;
    FrameLimiter *m_faderFrames = nullptr;
    QRegion m_stageDirty;
    QSet<int> m_fadersDirty;  // fader indexes whose slider or value changed

    // The details button's drag.
    int m_lastGlobalX = 0;
    int m_lastGlobalY = 0;
    bool m_dragging = false;
    bool m_placementPosted = false;

    std::function<QAction *(QMenu &, const QPoint &)> m_menuRunner;
};

}  // namespace vl
