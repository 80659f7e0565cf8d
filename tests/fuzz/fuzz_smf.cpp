// Standard MIDI Files: any bytes. A file is read whole or refused with an offset inside
// it; what is read lies on one time line in order, with channels and data bytes in range,
// and reads the same every time.

#include "fuzzsupport.h"

#include "midi/core/smffile.h"

using namespace vl::midi;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = vl::fuzz::bytesOf(data, size);
    SmfSong song;
    SmfProblem problem;
    const bool read = readStandardMidiFile(bytes, &song, &problem);
    if (!read) {
        FUZZ_EXPECT(problem.offset >= 0 && problem.offset <= bytes.size());
        FUZZ_EXPECT(!problem.reason.isEmpty());
        FUZZ_EXPECT(song.events.isEmpty() && song.trackCount == 0);
        return 0;
    }
    FUZZ_EXPECT(song.format == 0 || song.format == 1);
    FUZZ_EXPECT(song.trackCount >= 1 && (song.format == 1 || song.trackCount == 1));
    FUZZ_EXPECT(song.lengthUs >= 0 && song.lengthUs <= kMaxSongMicroseconds);
    qint64 previous = 0;
    for (const SmfEvent &e : song.events) {
        FUZZ_EXPECT(e.timeUs >= previous && e.timeUs <= song.lengthUs);
        previous = e.timeUs;
        FUZZ_EXPECT(e.status >= 0x80 && e.status < 0xF0);
        FUZZ_EXPECT(e.data1 < 0x80 && e.data2 < 0x80);
        FUZZ_EXPECT(e.track >= 0 && e.track < song.trackCount);
    }
    SmfSong again;
    FUZZ_EXPECT(readStandardMidiFile(bytes, &again, nullptr));
    FUZZ_EXPECT(again.events.size() == song.events.size() && again.lengthUs == song.lengthUs);
    for (int i = 0; i < song.events.size(); ++i)
        FUZZ_EXPECT(again.events.at(i).timeUs == song.events.at(i).timeUs
                    && again.events.at(i).status == song.events.at(i).status);
    return 0;
}
