// The Standard MIDI File reader: formats 0 and 1 on one time line with every tempo change,
// SMPTE time, running status, what is read past, and one refused file for every way a file
// can be broken, each with the byte offset where reading stopped.

#include "midi/core/smffile.h"
#include "smfwriter.h"

#include <QtTest>

using namespace vl::midi;
using namespace vl::test;

namespace {

// "time_us kind/channel data1 data2", e.g. "500000 90/1 60 0".
QStringList render(const SmfSong &song)
{
    QStringList out;
    for (const SmfEvent &e : song.events)
        out << QStringLiteral("%1 %2/%3 %4 %5")
                   .arg(e.timeUs)
                   .arg(e.kind(), 2, 16)
                   .arg(e.channel())
                   .arg(e.data1)
                   .arg(e.data2)
                   .toUpper();
    return out;
}

QByteArray fromHex(const char *text) { return QByteArray::fromHex(QByteArray(text)); }

}  // namespace

class TestSmfFile : public QObject {
    Q_OBJECT

private slots:
    void readsFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<qint64>("lengthUs");

        // 480 ticks a quarter at the default 120 beats a minute: one tick is 1041.67 us.
        QTest::newRow("format 0, default tempo")
            << smfFile(0, 480, {SmfTrack().note(0, 1, 60, 100).note(480, 1, 60, 0)})
            << QStringList({"0 90/1 60 100", "500000 90/1 60 0"}) << qint64(500000);

        // The tempo map in the first track applies to the notes of the second: a quarter at
        // 120 (0.5 s), then 60 beats a minute (1 s a quarter).
        SmfTrack tempoMap;
        tempoMap.tempo(0, 500000).tempo(96, 1000000);
        SmfTrack notes;
        notes.note(0, 2, 60, 100).note(96, 2, 60, 0).cc(96, 3, 7, 127);
        QTest::newRow("format 1, tempo change in another track")
            << smfFile(1, 96, {tempoMap, notes})
            << QStringList({"0 90/2 60 100", "500000 90/2 60 0", "1500000 B0/3 7 127"}) << qint64(1500000);

        // A tempo change in the middle of a long gap takes effect from its own tick.
        SmfTrack a;
        a.note(0, 1, 1, 1).note(200, 1, 1, 0);
        SmfTrack b;
        b.tempo(100, 250000);
        QTest::newRow("tempo change between two events")
            << smfFile(1, 100, {a, b}) << QStringList({"0 90/1 1 1", "750000 90/1 1 0"}) << qint64(750000);

        // Events at one moment come in track order, then in file order.
        SmfTrack first;
        first.cc(10, 1, 1, 1).cc(0, 1, 2, 2);
        SmfTrack second;
        second.cc(10, 1, 3, 3);
        QTest::newRow("same time: track order, then file order")
            << smfFile(1, 1000, {second, first}) << QStringList({"5000 B0/1 3 3", "5000 B0/1 1 1", "5000 B0/1 2 2"})
            << qint64(5000);

        // Running status carries the last status over data bytes; system exclusive messages
        // and meta events (text, a 3-byte SMPTE offset) are read past, and a system
        // exclusive message ends running status.
        SmfTrack running;
        running.note(0, 1, 60, 100)
            .raw(10, fromHex("3C00"))
            .raw(0, fromHex("F004421100F7"))
            .meta(0, 0x01, "words")
            .raw(0, fromHex("C105"))
            .raw(0, fromHex("06"))
            .raw(0, fromHex("D17F"))
            .at(0, 16, 64, 33)
            .raw(0, fromHex("4022"));
        QTest::newRow("running status, sysex, meta, one-byte messages")
            << smfFile(0, 1000, {running})
            << QStringList({"0 90/1 60 100", "5000 90/1 60 0", "5000 C0/2 5 0", "5000 C0/2 6 0", "5000 D0/2 127 0",
                            "5000 A0/16 64 33", "5000 A0/16 64 34"})
            << qint64(5000);

        // 25 frames a second, 40 ticks a frame: a tick is a millisecond, whatever the tempo.
        SmfTrack smpte;
        smpte.tempo(0, 1000000).note(1500, 1, 60, 1);
        QTest::newRow("SMPTE 25 fps") << smfFile(0, quint16(0xE728), {smpte}) << QStringList({"1500000 90/1 60 1"})
                                      << qint64(1500000);
        SmfTrack drop;
        drop.note(2997, 1, 60, 1);
        QTest::newRow("SMPTE 29.97 fps") << smfFile(0, quint16(0xE301), {drop}) << QStringList({"100000000 90/1 60 1"})
                                         << qint64(100000000);

        // A chunk of an unknown kind between the tracks is read past; bytes after the
        // announced tracks are not read at all.
        QByteArray alien = smfHeader(1, 2, 10) + SmfTrack().note(0, 1, 1, 1).chunk() + QByteArray("XYZW") + be32(3)
                           + "abc" + SmfTrack().note(10, 1, 1, 0).chunk() + "trailing";
        QTest::newRow("unknown chunk, trailing bytes")
            << alien << QStringList({"0 90/1 1 1", "500000 90/1 1 0"}) << qint64(500000);

        // A header longer than six bytes keeps its extra bytes to itself; a track without
        // an end-of-track event ends where its chunk does.
        SmfTrack open;
        open.note(3, 1, 9, 9);
        open.endOfTrack = false;
        QByteArray longHeader = QByteArray("MThd") + be32(8) + be16(0) + be16(1) + be16(1000) + "xx" + open.chunk();
        QTest::newRow("long header, no end of track") << longHeader << QStringList({"1500 90/1 9 9"}) << qint64(1500);

        // The end of track sets the song's length.
        SmfTrack quiet;
        quiet.note(0, 1, 1, 1).raw(2000, fromHex("FF2F00"));
        quiet.endOfTrack = false;
        QTest::newRow("length from the end of track")
            << smfFile(0, 1000, {quiet}) << QStringList({"0 90/1 1 1"}) << qint64(1000000);
    }

    void readsFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, events);
        QFETCH(qint64, lengthUs);
        SmfSong song;
        SmfProblem problem;
        QVERIFY2(readStandardMidiFile(file, &song, &problem),
                 qPrintable(QStringLiteral("byte %1: %2").arg(problem.offset).arg(problem.reason)));
        QCOMPARE(render(song), events);
        QCOMPARE(song.lengthUs, lengthUs);
    }

    void headerFields()
    {
        SmfTrack t;
        t.tempo(0, 400000).tempo(5, 300000);
        SmfSong song;
        QVERIFY(readStandardMidiFile(smfFile(1, 192, {t, SmfTrack(), SmfTrack()}), &song, nullptr));
        QCOMPARE(song.format, 1);
        QCOMPARE(song.trackCount, 3);
        QCOMPARE(song.division, 192);
        QCOMPARE(song.tempoChanges, 2);
    }

    // Every way of being broken gives the offset where reading stopped, and the song the
    // caller passed stays as it was: nothing is half read.
    void refusesBrokenFiles_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<QString>("reason");

        const QByteArray good = smfFile(0, 96, {SmfTrack().note(0, 1, 60, 100).note(96, 1, 60, 0)});
        const QByteArray h = smfHeader(0, 1, 96);  // 14 bytes; a track's body starts at 22
        const auto track = [&](const QByteArray &body) {
            return h + QByteArray("MTrk") + be32(quint32(body.size())) + body;
        };

        // clang-format off
        QTest::newRow("empty") << QByteArray() << qint64(0) << "does not begin with \"MThd\"";
        QTest::newRow("not MIDI") << QByteArray("RIFF1234RMIDdata") << qint64(0) << "does not begin with \"MThd\"";
        QTest::newRow("header cut") << good.left(11) << qint64(11) << "inside its 14-byte header";
        QTest::newRow("header length 4") << QByteArray("MThd") + be32(4) + good.mid(8) << qint64(4) << "declares 4 bytes";
        QTest::newRow("header length past the end") << QByteArray("MThd") + be32(4000) + good.mid(8) << qint64(4) << "declares 4000 bytes";
        QTest::newRow("format 2") << smfHeader(2, 1, 96) + good.mid(14) << qint64(8) << "format 2";
        QTest::newRow("format 7") << smfHeader(7, 1, 96) + good.mid(14) << qint64(8) << "format 7 is unknown";
        QTest::newRow("format 0, two tracks") << smfHeader(0, 2, 96) + good.mid(14) + good.mid(14) << qint64(10) << "format 0 file with 2 tracks";
        QTest::newRow("no tracks") << smfHeader(1, 0, 96) << qint64(10) << "with 0 tracks";
        QTest::newRow("division 0") << smfHeader(0, 1, 0) + good.mid(14) << qint64(12) << "0 ticks per quarter note";
        QTest::newRow("SMPTE 23 fps") << smfHeader(0, 1, 0xE928) + good.mid(14) << qint64(12) << "23 frames a second";
        QTest::newRow("SMPTE 0 ticks") << smfHeader(0, 1, 0xE700) + good.mid(14) << qint64(13) << "0 ticks a frame";
        QTest::newRow("track cut short") << good.left(good.size() - 3) << qint64(18) << "the file ends 9 bytes after its header";
        QTest::newRow("track missing") << smfHeader(1, 2, 96) + good.mid(14) << qint64(good.size()) << "after 1 of its 2 tracks";
        QTest::newRow("track header cut") << smfHeader(1, 2, 96) + good.mid(14) + "MTr" << qint64(good.size()) << "after 1 of its 2 tracks";
        QTest::newRow("delta of five bytes") << track(fromHex("8080808000903C64")) << qint64(22) << "a delta time runs over more than four bytes";
        QTest::newRow("delta cut") << track(fromHex("00903C64FF")) << qint64(26) << "ends inside a delta time";
        QTest::newRow("delta without event") << track(fromHex("00903C6400")) << qint64(27) << "ends after a delta time, before its event";
        QTest::newRow("running status from nothing") << track(fromHex("003C64")) << qint64(23) << "data byte 0x3C has no status byte";
        QTest::newRow("running status after sysex") << track(fromHex("00903C6400F0017F003C00")) << qint64(31) << "data byte 0x3C has no status byte";
        QTest::newRow("status byte as data") << track(fromHex("00903C9000")) << qint64(25) << "byte 0x90 of a 0x90 message is a status byte";
        QTest::newRow("message cut") << track(fromHex("00903C")) << qint64(23) << "ends inside a 0x90 message";
        QTest::newRow("system real-time byte") << track(fromHex("00F8")) << qint64(23) << "status byte 0xF8 cannot stand";
        QTest::newRow("meta cut") << track(fromHex("00FF")) << qint64(23) << "ends inside a meta event";
        QTest::newRow("meta type with top bit") << track(fromHex("00FF8100")) << qint64(24) << "meta event type 0x81";
        QTest::newRow("meta length past the track") << track(fromHex("00FF0110616263")) << qint64(23) << "a meta event of 16 bytes runs past";
        QTest::newRow("meta length cut") << track(fromHex("00FF0180")) << qint64(25) << "inside the length of a meta event";
        QTest::newRow("sysex past the track") << track(fromHex("00F0057F7F")) << qint64(23) << "system exclusive message of 5 bytes runs past";
        QTest::newRow("tempo of two bytes") << track(fromHex("00FF51020102")) << qint64(23) << "a tempo change of 2 bytes";
        QTest::newRow("tempo 0") << track(fromHex("00FF5103000000")) << qint64(23) << "tempo change to 0";
        QTest::newRow("end of track with data") << track(fromHex("00FF2F0100")) << qint64(23) << "end-of-track event with 1 bytes";
        QTest::newRow("after end of track") << track(fromHex("00FF2F0000903C64")) << qint64(26) << "goes on after its end-of-track";
        // 2^28 - 1 ticks of a quarter note each at the slowest tempo: centuries.
        QTest::newRow("song of centuries") << track(fromHex("00FF5103FFFFFF") + fromHex("FFFFFF7F903C64")) << qint64(33) << "more than 24 hours";
        // clang-format on
    }

    void refusesBrokenFiles()
    {
        QFETCH(QByteArray, file);
        QFETCH(qint64, offset);
        QFETCH(QString, reason);
        SmfSong song;
        song.format = 42;
        song.events.append(SmfEvent());
        SmfProblem problem;
        QVERIFY(!readStandardMidiFile(file, &song, &problem));
        QVERIFY2(problem.reason.contains(reason), qPrintable(problem.reason));
        QCOMPARE(problem.offset, offset);
        QCOMPARE(song.format, 42);
        QCOMPARE(song.events.size(), 1);
    }

    void refusesOversizedFiles()
    {
        SmfSong song;
        SmfProblem problem;
        const QByteArray big = smfHeader(0, 1, 96) + QByteArray(int(kMaxSmfBytes), '\0');
        QVERIFY(!readStandardMidiFile(big, &song, &problem));
        QVERIFY2(problem.reason.contains("larger than 16 MB"), qPrintable(problem.reason));
    }
};

QTEST_GUILESS_MAIN(TestSmfFile)
#include "tst_smffile.moc"
