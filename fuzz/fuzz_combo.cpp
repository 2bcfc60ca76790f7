// The connection panel's address combo box as an operator drives it: list items put in,
// replaced and deleted through the Combo_* calls, text typed into the field with real key
// events (so that completion runs on each typed change), the list opened from the keyboard and
// an item picked, and commits that reach the panel's own callback (which keeps the history
// file). One panel serves the whole process; each input starts from an empty list.
//
// Input: byte 0 is the maximum entry length (255: no maximum), then segments separated by zero
// bytes. A segment's first byte picks the operation, its second the list index (-1 .. count),
// and the rest is its text:
//   0 insert, 1 replace, 2 delete (the third byte is the count, 255 meaning to the end),
//   3 type the text: printable bytes are typed; control bytes are keys (see typeKeys).
#include "combobox/combobox.h"
#include "fuzz/support.h"
#include "link/connectpanel.h"
#include "link/history.h"
#include "platform/testing.h"
#include "platform/userint.h"
#include "shell/controls.h"
#include "shell/state.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <cstring>
#include <string>

using namespace qv;
using namespace qv::rt;
using namespace fuzzsupport;

namespace {

QLineEdit *field = nullptr;
int ring = 0;

// With no event loop running, objects handed to deleteLater (a closed list's menu) would wait
// for one forever: delete them here, as the program's own loop does.
void pumpEvents() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QWidget *popup() {
    return QApplication::activePopupWidget();
}

void closePopup() {
    while (QWidget *p = popup()) {
        p->close();
        pumpEvents();
    }
}

void focusField() {
    SetActiveCtrl(interfacepanel, INTERFACEP_STRINGIPADRESS);
    pumpEvents();
}

int listCount() {
    int n = -1;
    GetNumListItems(interfacepanel, ring, &n);
    return n;
}

// Down in the field, `steps` more in the list, then Enter: the operator's pick.
void pick(int steps) {
    QTest::keyClick(field, Qt::Key_Down);
    pumpEvents();
    if (!popup())
        return; // an empty list stays shut
    for (int i = 0; i < steps && popup(); ++i)
        QTest::keyClick(popup(), Qt::Key_Down);
    if (popup())
        QTest::keyClick(popup(), Qt::Key_Return);
    pumpEvents();
    closePopup();
    focusField();
}

// One printable Latin-1 character as the keyboard gives it: its key (the upper-case code, as
// Qt numbers keys) and its text.
void typeCharacter(unsigned char c) {
    const QChar ch = QChar::fromLatin1(static_cast<char>(c));
    const auto key = static_cast<Qt::Key>(ch.toUpper().unicode());
    QTest::sendKeyEvent(QTest::Press, field, key, QString(ch), Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Release, field, key, QString(ch), Qt::NoModifier);
}

void typeKeys(const std::string &keys) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const auto k = static_cast<unsigned char>(keys[i]);
        switch (k) {
        case 1:
            QTest::keyClick(field, Qt::Key_Backspace);
            break;
        case 2:
            QTest::keyClick(field, Qt::Key_Delete);
            break;
        case 3: // pick the n-th item below the current one
            pick(i + 1 < keys.size() ? static_cast<unsigned char>(keys[++i]) % 8 : 0);
            break;
        case 4: // Up opens the list too; Escape closes it
            QTest::keyClick(field, Qt::Key_Up);
            pumpEvents();
            if (popup())
                QTest::keyClick(popup(), Qt::Key_Escape);
            closePopup();
            focusField();
            break;
        case 5: // commit the field
            QTest::keyClick(field, Qt::Key_Return);
            pumpEvents();
            break;
        case 6:
            QTest::keyClick(field, Qt::Key_Home);
            break;
        case 7:
            QTest::keyClick(field, Qt::Key_End);
            break;
        case 8:
            QTest::keyClick(field, Qt::Key_Left, Qt::ShiftModifier);
            break;
        case 9:
            QTest::keyClick(field, Qt::Key_Right);
            break;
        case 10:
            QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
            break;
        case 11: // Shift+Tab leaves the field; come back
            QTest::keyClick(field, Qt::Key_Backtab, Qt::ShiftModifier);
            pumpEvents();
            focusField();
            break;
        default:
            if (k >= 0x20 && k != 0x7f)
                typeCharacter(k);
            break;
        }
    }
}

// The list as the Combo_* calls see it must be the ring's list, and the field must keep to
// its maximum entry length.
void checkState(int maxLength) {
    int length = -1;
    GetCtrlAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, ATTR_STRING_TEXT_LENGTH, &length);
    if (length < 0)
        fail("the field's text length is unknown");
    if (maxLength >= 0 && length > maxLength)
        fail("the field holds more than its maximum entry length");
    const int count = listCount();
    if (count < 0)
        fail("the list cannot be counted");
    for (int i = 0; i < count; ++i) {
        int itemLength = -1;
        if (GetValueLengthFromIndex(interfacepanel, ring, i, &itemLength) < 0 || itemLength < 0)
            fail("a list item has no length");
        std::string value(static_cast<std::size_t>(itemLength) + 1, '\0');
        int index = -2;
        if (GetValueFromIndex(interfacepanel, ring, i, value.data(), value.size()) < 0 ||
            Combo_GetIndexFromValue(interfacepanel, INTERFACEP_STRINGIPADRESS, &index,
                                    value.c_str()) < 0 ||
            index < 0 || index > i)
            fail("a list item is not found by its own value");
    }
    IpHistory history;
    if (ReadIpHistory(ipComboBoxFileName, &history) < 0)
        fail("the history file the panel wrote cannot be read");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    startProgram();
    std::remove(ipComboBoxFileName);
    InitIpAdressComboBox();
    SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 1);
    InitConnectPanel();
    DisplayPanel(interfacepanel);
    QWidget *window = rt::testing::PanelWidget(interfacepanel);
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        fail("the connection panel never became active");
    field = qobject_cast<QLineEdit *>(
        rt::testing::ControlWidget(interfacepanel, INTERFACEP_STRINGIPADRESS));
    void *record = nullptr;
    GetCtrlAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, ATTR_CALLBACK_DATA, &record);
    if (!field || !record)
        fail("the address field is no combo box");
    ring = static_cast<const ComboRec *>(record)->ringCtrl;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    Reader in(data, size);
    const int limitByte = in.byte();
    const int maxLength = limitByte == 255 ? -1 : limitByte;

    closePopup();
    Combo_DeleteComboItem(interfacepanel, INTERFACEP_STRINGIPADRESS, 0, -1);
    Combo_SetComboAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, COMBO_ATTR_MAX_ENTRY_LENGTH,
                            maxLength);
    SetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, "");
    focusField();
    QTest::keyClick(field, Qt::Key_End); // a plain key: completion on again

    const auto *rest = reinterpret_cast<const char *>(in.rest());
    const std::string all(rest, in.left());
    std::size_t at = 0;
    while (at <= all.size()) {
        std::size_t end = all.find('\0', at);
        if (end == std::string::npos)
            end = all.size();
        const std::string segment = all.substr(at, end - at);
        at = end + 1;
        if (segment.empty())
            continue;
        const int op = static_cast<unsigned char>(segment[0]) % 4;
        const int count = listCount();
        const int index =
            segment.size() > 1 ? static_cast<unsigned char>(segment[1]) % (count + 2) - 1 : -1;
        const std::string text = segment.size() > 2 ? segment.substr(2) : std::string();
        switch (op) {
        case 0:
            Combo_InsertComboItem(interfacepanel, INTERFACEP_STRINGIPADRESS, index, text.c_str());
            break;
        case 1:
            Combo_ReplaceComboItem(interfacepanel, INTERFACEP_STRINGIPADRESS, index, text.c_str());
            break;
        case 2: {
            const int n = text.empty() ? 1 : static_cast<unsigned char>(text[0]);
            Combo_DeleteComboItem(interfacepanel, INTERFACEP_STRINGIPADRESS, index,
                                  n == 255 ? -1 : n);
            break;
        }
        default:
            typeKeys(segment.substr(1));
            break;
        }
    }
    pumpEvents();
    closePopup();
    checkState(maxLength);
    return 0;
}
