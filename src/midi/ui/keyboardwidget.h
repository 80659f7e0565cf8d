#pragma once

// An on-screen piano keyboard of 128 keys, MIDI notes 0..127. Every key's noteOn and
// noteOff are passed on unchanged as the keyboard's own signals.

#include <QList>
#include <QWidget>

namespace vl {

class MidiKeyButton;

class KeyboardWidget : public QWidget {
    Q_OBJECT
public:
    explicit KeyboardWidget(QWidget *parent = nullptr);

    static constexpr int kNotes = 128;

    // The key of a note: the white keys are searched first, then the black ones. Null
    // when there is none, or when mappedOnly is set and the key is not mapped.
    MidiKeyButton *keyForNote(int note, bool mappedOnly = false) const;
    // Every key, white ones first.
    QList<MidiKeyButton *> keys() const { return whiteKeys + blackKeys; }

    QList<MidiKeyButton *> whiteKeys;  // ascending notes
    QList<MidiKeyButton *> blackKeys;  // ascending notes
    qint32 whiteKeyCount = 0;

signals:
    void noteOn(int midiNote, int velocity);
    void noteOff(int midiNote, int velocity);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildKeys();
    void layoutKeys();
};

}  // namespace vl
