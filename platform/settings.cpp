#include "platform/settings.h"

#include "platform/utility.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cstring>
#include <functional>

namespace qv::rt {

namespace {

enum class State { Closed, Open, Ignored };

struct Store {
    State state = State::Closed;
    QString path;
    QByteArray given; // the path's bytes, for messages
};

Store &store() {
    static Store s;
    return s;
}

// A QSettings for each call: its status tells of that call alone (a QSettings keeps its first
// error for good). Qt shares what it read of the file between them, and reads it again only
// when it changed on disk.
int withFile(const char *key, const std::function<int(QSettings &, const QString &)> &fn) {
    if (store().state != State::Open)
        return kSettingsNotKept;
    if (!key || !*key)
        return kFileError;
    QSettings file(store().path, QSettings::IniFormat);
    if (file.status() == QSettings::FormatError)
        return kSettingsDamaged; // spoilt since it was opened: not overwritten
    return fn(file, QString::fromLatin1(key));
}

} // namespace

int SettingsOpen(const char *path) {
    SettingsClose();
    if (!path || !*path)
        return 0;
    Store &s = store();
    s.given = path;
    s.path = QFile::decodeName(s.given);
    s.state = State::Ignored;
    const QFileInfo info(s.path);
    if (info.exists()) {
        QFile readable(s.path);
        if (!info.isFile() || !readable.open(QIODevice::ReadOnly))
            return kFileError;
    }
    const QSettings file(s.path, QSettings::IniFormat);
    switch (file.status()) {
    case QSettings::NoError:
        s.state = State::Open;
        return 0;
    case QSettings::FormatError:
        return kSettingsDamaged;
    default:
        return kFileError;
    }
}

void SettingsClose() {
    store() = Store{};
}

const char *SettingsFile() {
    return store().given.constData();
}

int SettingsGetInt(const char *key, int *value) {
    if (!value)
        return kFileError;
    return withFile(key, [value](QSettings &file, const QString &name) {
        const QVariant v = file.value(name);
        if (!v.isValid())
            return 0;
        bool ok = false;
        const int n = v.toString().trimmed().toInt(&ok);
        if (!ok)
            return kSettingsDamaged;
        *value = n;
        return 1;
    });
}

int SettingsGetTextBounded(const char *key, char *text, std::size_t size) {
    if (!text || size == 0)
        return kFileError;
    return withFile(key, [text, size](QSettings &file, const QString &name) {
        const QVariant v = file.value(name);
        if (!v.isValid())
            return 0;
        // Commas outside quotes make a list: not a text this store wrote.
        if (v.typeId() != QMetaType::QString)
            return kSettingsDamaged;
        return CopyTextBounded(text, size, v.toString().toLatin1().constData()) ? 1 : kTextCut;
    });
}

namespace {
int put(const char *key, const QVariant &value) {
    return withFile(key, [&value](QSettings &file, const QString &name) {
        // QSettings would make a missing folder; a folder gone since start-up stays gone.
        if (!QFileInfo(store().path).absoluteDir().exists())
            return kFileError;
        file.setValue(name, value);
        file.sync();
        return file.status() == QSettings::NoError ? 0 : kFileError;
    });
}
} // namespace

int SettingsPutInt(const char *key, int value) {
    return put(key, value);
}

int SettingsPutText(const char *key, const char *text) {
    if (!text)
        return kFileError;
    return put(key, QString::fromLatin1(text));
}

} // namespace qv::rt
