// Modal pop-ups: messages, confirmations, the save-file dialog; tests answer them by handler.
#include "platform/runtime_p.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPixmapCache>
#include <QStandardPaths>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace qv::rt {

using namespace detail;

void SetPopupHandler(PopupHandler handler) {
    rt().popupHandler = std::move(handler);
}

namespace {
int showPopup(PopupKind kind, const char *title, const char *message,
              TextCoding coding = TextCoding::Latin1) {
    const QString t = latin1(title), m = decoded(QByteArray(message ? message : ""), coding);
    if (rt().popupHandler)
        return rt().popupHandler(kind, t.toStdString(), m.toStdString());
    if (!QApplication::instance())
        return kUIENotInitialized;
    QMessageBox box(
        kind == PopupKind::Confirm ? QMessageBox::Question : QMessageBox::Information, t, m,
        kind == PopupKind::Confirm ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
        QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    const int answer = box.exec();
    return kind == PopupKind::Confirm ? (answer == QMessageBox::Yes ? 1 : 0) : 0;
}
} // namespace

int MessagePopup(const char *title, const char *message) {
    const int status = showPopup(PopupKind::Message, title, message);
    return status < 0 ? status : 0;
}

int MessagePopup(const char *title, const char *message, TextCoding coding) {
    const int status = showPopup(PopupKind::Message, title, message, coding);
    return status < 0 ? status : 0;
}

int ConfirmPopup(const char *title, const char *message) {
    return showPopup(PopupKind::Confirm, title, message);
}

namespace {
// The file dialog leaves the icons of the folders it listed in the pixmap cache, and the heap it
// freed (its file system model, their threads' arenas) with the process: together about 1 MB of
// the 3 MB it adds. A program that keeps 12 MiB of readings within 60 MB gives them back; the
// style draws what it needs again at the next paint.
void releaseDialogLeftovers() {
    QPixmapCache::clear();
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
} // namespace

void SetSaveFileHandler(SaveFileHandler handler) {
    rt().saveFileHandler = std::move(handler);
}

int SaveFilePopupText(const char *title, const char *suggested, char *path, std::size_t size) {
    if (!path || size == 0)
        return kUIEValueInvalid;
    path[0] = '\0';
    const std::string t = title ? title : "", s = suggested ? suggested : "";
    QString chosen;
    if (rt().saveFileHandler) {
        chosen = QString::fromLocal8Bit(rt().saveFileHandler(t, s).c_str());
    } else {
        if (!QApplication::instance())
            return kUIENotInitialized;
        QString start = QString::fromLocal8Bit(s.c_str());
        if (!QDir::isAbsolutePath(start)) {
            // Not every account has a documents folder; its home it has.
            QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
            if (dir.isEmpty() || !QDir(dir).exists())
                dir = QDir::homePath();
            start = QDir(dir).filePath(start);
        }
        chosen =
            QFileDialog::getSaveFileName(QApplication::activeWindow(), latin1(t.c_str()), start);
        releaseDialogLeftovers();
    }
    if (chosen.isEmpty())
        return 0;
    const QByteArray bytes = QDir::toNativeSeparators(chosen).toLocal8Bit();
    if (static_cast<std::size_t>(bytes.size()) >= size)
        return kUIEValueInvalid;
    copyOut(bytes, path, size);
    return 1;
}

} // namespace qv::rt
