#include "ccfaders.h"

namespace vl {

FaderSlider::FaderSlider(QWidget *parent) : QSlider(Qt::Vertical, parent) {}

void FaderSlider::sliderChange(SliderChange change)
{
    if (change == SliderValueChange && m_request)
        m_request(this);
    else
        QSlider::sliderChange(change);
}

QString faderStripStyleSheet()
{
    return QStringLiteral("#faderStrip { background-color: #1a1a1a; }"
                          "QWidget#faderColumn, QWidget#faderHeader {    background: transparent;    margin: 0px;}"
                          "QLabel { color: white; font-family: Arial; font-size: 10px; font-weight: bold;"
                          " background-color: #1a1a1a; border: 1px solid #2a2a2a; }"
                          "QLabel:disabled { color: #404040; }"
                          "QSlider { background: transparent; }"
                          "QSlider::groove:vertical { background: #A3A3A3; width: 10px; border-radius: 5px; }"
                          "QSlider::handle:vertical { image: url(:/IMG/yq.png); width: 22px; height: 22px;"
                          " margin-left: -6px; margin-right: -6px; margin-top: -7px; margin-bottom: -7px; }"
                          "QSlider::add-page:vertical { background: #39b54a; border-radius: 5px; }"
                          "QSlider::sub-page:vertical { background: white; border-radius: 5px; }"
                          "QSlider::handle:vertical:disabled { image: url(:/IMG/y3.png); }"
                          "QSlider::add-page:vertical:disabled { background: #404040; }"
                          "QSlider::sub-page:vertical:disabled { background: #D3D3D3; }");
}

QString faderScrollAreaStyleSheet()
{
    return QStringLiteral("QScrollArea {    background-color: #1a1a1a;    border: none;}"
                          "QScrollArea > QWidget > QWidget {    background-color: #1a1a1a;}");
}

}  // namespace vl
