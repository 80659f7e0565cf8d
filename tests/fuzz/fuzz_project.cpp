// Fixture project files of the light preview: any bytes as a project. Parsing the bytes and
// reading the file agree; a project that opens, saved as the preview saves it, opens again
// and saves the same.

#include "fuzzsupport.h"

#include "preview/core/fixtureproject.h"
#include "preview/core/fixtureregistry.h"
#include "preview/core/fixturestage.h"

using namespace vl;

namespace {

QString described(const ProjectRead &read)
{
    QString text = QStringLiteral("%1 %2\n").arg(read.ok).arg(read.message);
    for (const ProjectFixture &f : read.fixtures) {
        text += QStringLiteral("fixture %1 picture %2\n").arg(f.name, f.pixmap);
        for (const SelectedChannel &c : f.channels)
            text += QStringLiteral("  sn %1 dmx %2 remark %3\n").arg(c.sn).arg(c.dmxCH).arg(c.remark);
        for (auto it = f.bindings.cbegin(); it != f.bindings.cend(); ++it)
            text += QStringLiteral("  %1 = %2\n").arg(it.key()).arg(it.value());
    }
    return text;
}

// Opens the project as the preview does and gives the document Save Project writes.
QByteArray openAndSave(const QVector<ProjectFixture> &fixtures)
{
    GlobalData registry;
    FixtureStage stage(registry);
    applyProject(fixtures, stage);
    QHash<QString, QString> pictures;
    for (const ProjectFixture &f : fixtures)
        if (!pictures.contains(f.name))
            pictures.insert(f.name, f.pixmap);
    return projectJson(registry, pictures, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const ProjectRead parsed = parseProject(bytes);
    const ProjectRead read = readProjectFile(fuzz::scratchFile(QStringLiteral("project.json"), bytes));
    FUZZ_EXPECT_SAME(described(read).toUtf8(), described(parsed).toUtf8());
    if (!parsed.ok)
        return 0;

    const QByteArray saved = openAndSave(parsed.fixtures);
    const ProjectRead again = parseProject(saved);
    FUZZ_EXPECT(again.ok);
    FUZZ_EXPECT_SAME(openAndSave(again.fixtures), saved);
    return 0;
}
