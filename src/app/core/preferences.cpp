#include "preferences.h"

#include <QSettings>
#include <QString>

namespace vl {

namespace {

const QString &configPath()
{
    static const QString path = QStringLiteral("./config.ini");
    return path;
}

QVariant readValue(const char *key)
{
    QSettings settings(configPath(), QSettings::IniFormat);
    return settings.value(QLatin1String(key));
}

void writeValue(const char *key, const QVariant &value)
{
    QSettings settings(configPath(), QSettings::IniFormat);
    settings.setValue(QLatin1String(key), value);
    settings.sync();
}

}  // namespace

bool Preferences::autoUpdates()
{
    const QString text = readValue("autoUpdates").toString().trimmed().toLower();
    if (text == QLatin1String("false") || text == QLatin1String("0"))
        return false;
    return true;  // "true", "1", missing or unreadable
}

void Preferences::setAutoUpdates(bool on) { writeValue("autoUpdates", on); }

int Preferences::selectedActionIndex()
{
    bool ok = false;
    const int index = readValue("selectedActionIndex").toString().trimmed().toInt(&ok);
    return ok ? index : 0;
}

void Preferences::setSelectedActionIndex(int index) { writeValue("selectedActionIndex", index); }

}  // namespace vl
