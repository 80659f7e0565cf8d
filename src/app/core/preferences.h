#pragma once

// The editor's two stored preferences in "./config.ini". Every read and write opens the
// file anew, so a change reaches the disk at once. A missing, empty or garbled file gives
// the defaults; a failed write is not reported.

namespace vl {

class Preferences {
public:
    // "autoUpdates": whether rule-table reads and remark edits refresh the light preview.
    static bool autoUpdates();
    static void setAutoUpdates(bool on);

    // "selectedActionIndex": position of the checked "MIDI Note=60 Name" entry, -1 for none.
    static int selectedActionIndex();
    static void setSelectedActionIndex(int index);
};

}  // namespace vl
