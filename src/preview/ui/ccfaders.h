#pragma once

// One column of the preview's controller fader strip: the value above, the slider, the
// controller number below. A slider's value changes repaint through the strip's frame
// limiter, so a fader dragged as fast as the mouse goes repaints at most once a frame.

#include "preview/core/rulesnapshots.h"

#include <QSlider>

#include <functional>

class QLabel;
class QWidget;

namespace vl {

class FaderSlider : public QSlider {
    Q_OBJECT
public:
    explicit FaderSlider(QWidget *parent = nullptr);

    // Who repaints the slider after its value changed; without one it repaints at once.
    void setRepaintRequest(std::function<void(FaderSlider *)> request) { m_request = std::move(request); }

protected:
    void sliderChange(SliderChange change) override;

private:
    std::function<void(FaderSlider *)> m_request;
};

struct CcFader {
    int controller = 0;  // the controller label read as a number
    QWidget *column = nullptr;
    QLabel *valueLabel = nullptr;
    FaderSlider *slider = nullptr;
    QLabel *numberLabel = nullptr;
    FaderState state{true, true};  // as built: shown and enabled
};

// The strip's look: labels, sliders with their handle pictures, the transparent columns.
QString faderStripStyleSheet();
QString faderScrollAreaStyleSheet();

}  // namespace vl
