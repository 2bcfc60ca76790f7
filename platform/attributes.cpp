// Control and panel attributes.
#include "platform/runtime_p.h"
#include "platform/widgets_p.h"

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>

namespace qv::rt {

using namespace detail;

namespace {

struct AttrArg {
    enum Kind { Int, Text, Pointer, Callback } kind;
    int i = 0;
    const char *s = nullptr;
    void *p = nullptr;
    CtrlCallbackPtr cb = nullptr;
};

int tabPosition(const Panel &p, int id) {
    const auto it = std::find(p.tabOrder.begin(), p.tabOrder.end(), id);
    return static_cast<int>(it - p.tabOrder.begin());
}

int moveInOrder(std::vector<int> &order, int id, int position) {
    if (position < 0 || position >= static_cast<int>(order.size()))
        return kUIEValueInvalid;
    order.erase(std::find(order.begin(), order.end(), id));
    order.insert(order.begin() + position, id);
    return 0;
}

int setAttr(Control &c, int attribute, const AttrArg &a) {
    Panel &p = *c.panel;
    const bool isInt = a.kind == AttrArg::Int;
    if (attribute == ATTR_CALLBACK_DATA) {
        if (a.kind == AttrArg::Pointer)
            c.callbackData = a.p;
        else if (isInt && a.i == 0)
            c.callbackData = nullptr;
        else
            return kUIEValueInvalid;
        return 0;
    }
    if (attribute == ATTR_CALLBACK_FUNCTION_POINTER) {
        if (a.kind == AttrArg::Callback)
            c.callback = a.cb;
        else if ((isInt && a.i == 0) || (a.kind == AttrArg::Pointer && !a.p))
            c.callback = nullptr;
        else
            return kUIEValueInvalid;
        return 0;
    }
    if (attribute == ATTR_TEXT_FONT) {
        if (a.kind != AttrArg::Text || !a.s)
            return kUIEValueInvalid;
        c.font = a.s;
        applyLook(c);
        return 0;
    }
    if (!isInt)
        return kUIEValueInvalid;
    const int v = a.i;
    switch (attribute) {
    case ATTR_DIMMED:
        c.dimmed = v != 0;
        if (c.widget)
            c.widget->setEnabled(!c.dimmed);
        return 0;
    case ATTR_VISIBLE:
        c.visible = v != 0;
        if (c.widget)
            c.widget->setVisible(c.visible);
        if (c.caption)
            c.caption->setVisible(c.visible);
        return 0;
    case ATTR_LEFT:
        c.geometry.moveLeft(v);
        applyGeometry(c);
        return 0;
    case ATTR_TOP:
        c.geometry.moveTop(v);
        applyGeometry(c);
        return 0;
    case ATTR_WIDTH:
        if (v < 0)
            return kUIEValueInvalid;
        c.geometry.setWidth(v);
        applyGeometry(c);
        return 0;
    case ATTR_HEIGHT:
        if (v < 0)
            return kUIEValueInvalid;
        c.geometry.setHeight(v);
        applyGeometry(c);
        return 0;
    case ATTR_FRAME_COLOR:
        c.frameColor = v;
        if (c.style == CTRL_NUMERIC_BAR)
            static_cast<BarWidget *>(c.widget.data())->setFillColor(ColorOf(v));
        applyLook(c);
        return 0;
    case ATTR_TEXT_COLOR:
        c.textColor = v;
        // A display may change colour with each reading, as its value changes: the colour is
        // drawn with the value, at the screen's rate. Applied at once it would cost a reading
        // that flips it about 6 us, a third of the GO loop's own.
        if (c.style == CTRL_NUMERIC_INDICATOR || c.style == CTRL_TEXT_INDICATOR) {
            c.lookDirty = true;
            displayChanged(c);
        } else {
            applyLook(c);
        }
        return 0;
    case ATTR_TEXT_BGCOLOR:
        c.bgColor = v;
        applyLook(c);
        return 0;
    case ATTR_TEXT_POINT_SIZE:
        if (v <= 0)
            return kUIEValueInvalid;
        c.pointSize = v;
        applyLook(c);
        return 0;
    case ATTR_TEXT_BOLD:
        c.bold = v != 0;
        applyLook(c);
        return 0;
    case ATTR_TEXT_ITALIC:
        c.italic = v != 0;
        applyLook(c);
        return 0;
    case ATTR_CMD_BUTTON_COLOR:
        if (c.style != CTRL_COMMAND_BUTTON)
            return kUIEAttrInvalid;
        c.buttonColor = v;
        applyLook(c);
        return 0;
    case ATTR_TEXT_JUSTIFY:
        if (c.style != CTRL_TEXT_INDICATOR)
            return kUIEAttrInvalid;
        if (v != VAL_LEFT_JUSTIFIED && v != VAL_RIGHT_JUSTIFIED && v != VAL_CENTER_JUSTIFIED)
            return kUIEValueInvalid;
        c.justify = v;
        applyLook(c);
        return 0;
    case ATTR_TEXT_WRAP:
        if (c.style != CTRL_TEXT_INDICATOR)
            return kUIEAttrInvalid;
        c.wrap = v != 0;
        applyLook(c);
        return 0;
    case ATTR_BAR_MARK_LOW:
    case ATTR_BAR_MARK_HIGH:
        if (c.style != CTRL_NUMERIC_BAR)
            return kUIEAttrInvalid;
        if (v < VAL_NO_MARK)
            return kUIEValueInvalid;
        (attribute == ATTR_BAR_MARK_LOW ? c.markLow : c.markHigh) = v;
        static_cast<BarWidget *>(c.widget.data())->setWindow(c.markLow, c.markHigh);
        return 0;
    case ATTR_ZPLANE_POSITION: {
        const int status = moveInOrder(p.zOrder, c.id, v);
        if (status == 0)
            applyZOrder(p);
        return status;
    }
    case ATTR_CTRL_TAB_POSITION: {
        const int status = moveInOrder(p.tabOrder, c.id, v);
        if (status == 0)
            applyTabOrder(p);
        return status;
    }
    case ATTR_DATA_TYPE:
        if (!c.isRing())
            return kUIEAttrInvalid;
        if (v != VAL_STRING && v != VAL_INTEGER && v != VAL_UNSIGNED_SHORT_INTEGER)
            return kUIEValueInvalid;
        c.dataType = v;
        return 0;
    case ATTR_RING_POPUP_ARROW:
        if (!c.isPopupRing())
            return kUIEAttrInvalid;
        c.arrowOnly = v;
        applyLook(c);
        return 0;
    case ATTR_MAX_ENTRY_LENGTH:
        if (!c.isString())
            return kUIEAttrInvalid;
        if (v < -1)
            return kUIEValueInvalid;
        c.maxEntryLength = v;
        static_cast<QLineEdit *>(c.widget.data())->setMaxLength(v < 0 ? 32767 : v);
        return 0;
    case ATTR_TEXT_SELECTION_START:
    case ATTR_TEXT_SELECTION_LENGTH: {
        if (!c.isString())
            return kUIEAttrInvalid;
        auto *e = static_cast<QLineEdit *>(c.widget.data());
        const int len = static_cast<int>(e->text().size());
        int start = e->hasSelectedText() ? e->selectionStart() : e->cursorPosition();
        int count = e->hasSelectedText() ? static_cast<int>(e->selectedText().size()) : 0;
        if (attribute == ATTR_TEXT_SELECTION_START)
            start = v;
        else
            count = v;
        if (v < 0 || start > len)
            return kUIEValueInvalid;
        count = std::min(count, len - start);
        const QSignalBlocker block(e);
        if (count > 0)
            e->setSelection(start, count);
        else
            e->setCursorPosition(start);
        return 0;
    }
    case ATTR_CTRL_STYLE:
    case ATTR_TAKES_INPUT:
    case ATTR_NEXT_CTRL:
    case ATTR_TEXT_FONT_NAME_LENGTH:
    case ATTR_STRING_TEXT_LENGTH:
    default:
        return kUIEAttrInvalid;
    }
}

int getAttrInt(Control &c, int attribute, int *out) {
    Panel &p = *c.panel;
    switch (attribute) {
    case ATTR_DIMMED:
        *out = c.dimmed;
        return 0;
    case ATTR_VISIBLE:
        *out = c.visible;
        return 0;
    case ATTR_LEFT:
        *out = c.geometry.left();
        return 0;
    case ATTR_TOP:
        *out = c.geometry.top();
        return 0;
    case ATTR_WIDTH:
        *out = c.geometry.width();
        return 0;
    case ATTR_HEIGHT:
        *out = c.geometry.height();
        return 0;
    case ATTR_FRAME_COLOR:
        *out = c.frameColor;
        return 0;
    case ATTR_TEXT_COLOR:
        *out = c.textColor;
        return 0;
    case ATTR_TEXT_BGCOLOR:
        *out = c.bgColor;
        return 0;
    case ATTR_TEXT_POINT_SIZE:
        *out = c.pointSize > 0 ? c.pointSize : QFontInfo(QApplication::font()).pixelSize();
        return 0;
    case ATTR_TEXT_BOLD:
        *out = c.bold;
        return 0;
    case ATTR_TEXT_ITALIC:
        *out = c.italic;
        return 0;
    case ATTR_TEXT_FONT_NAME_LENGTH:
        *out = static_cast<int>(c.font.size());
        return 0;
    case ATTR_CTRL_STYLE:
        *out = c.style;
        return 0;
    case ATTR_TAKES_INPUT:
        *out = c.takesInput();
        return 0;
    case ATTR_ZPLANE_POSITION:
        *out =
            static_cast<int>(std::find(p.zOrder.begin(), p.zOrder.end(), c.id) - p.zOrder.begin());
        return 0;
    case ATTR_CTRL_TAB_POSITION:
        *out = tabPosition(p, c.id);
        return 0;
    case ATTR_NEXT_CTRL: {
        auto it = std::find(p.creationOrder.begin(), p.creationOrder.end(), c.id);
        *out = (it == p.creationOrder.end() || it + 1 == p.creationOrder.end()) ? 0 : *(it + 1);
        return 0;
    }
    case ATTR_CMD_BUTTON_COLOR:
        if (c.style != CTRL_COMMAND_BUTTON)
            return kUIEAttrInvalid;
        *out = c.buttonColor;
        return 0;
    case ATTR_TEXT_JUSTIFY:
    case ATTR_TEXT_WRAP:
        if (c.style != CTRL_TEXT_INDICATOR)
            return kUIEAttrInvalid;
        *out = attribute == ATTR_TEXT_JUSTIFY ? c.justify : c.wrap;
        return 0;
    case ATTR_BAR_MARK_LOW:
    case ATTR_BAR_MARK_HIGH:
        if (c.style != CTRL_NUMERIC_BAR)
            return kUIEAttrInvalid;
        *out = attribute == ATTR_BAR_MARK_LOW ? c.markLow : c.markHigh;
        return 0;
    case ATTR_DATA_TYPE:
        *out = c.dataType;
        return 0;
    case ATTR_RING_POPUP_ARROW:
        if (!c.isPopupRing())
            return kUIEAttrInvalid;
        *out = c.arrowOnly;
        return 0;
    case ATTR_MAX_ENTRY_LENGTH:
        if (!c.isString())
            return kUIEAttrInvalid;
        *out = c.maxEntryLength;
        return 0;
    case ATTR_STRING_TEXT_LENGTH:
        if (c.isString())
            *out = static_cast<int>(
                static_cast<QLineEdit *>(c.widget.data())->text().toLatin1().size());
        else if (c.isTextDisplay())
            *out = static_cast<int>(c.text.size());
        else
            return kUIEAttrInvalid;
        return 0;
    case ATTR_TEXT_SELECTION_START:
    case ATTR_TEXT_SELECTION_LENGTH: {
        if (!c.isString())
            return kUIEAttrInvalid;
        auto *e = static_cast<QLineEdit *>(c.widget.data());
        if (attribute == ATTR_TEXT_SELECTION_START)
            *out = e->hasSelectedText() ? e->selectionStart() : e->cursorPosition();
        else
            *out = static_cast<int>(e->selectedText().size());
        return 0;
    }
    default:
        return kUIEAttrInvalid;
    }
}

} // namespace

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    return withControl(panel, control, [&](Control &c) {
        return setAttr(c, attribute, AttrArg{AttrArg::Int, value});
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, const char *value) {
    return withControl(panel, control, [&](Control &c) {
        AttrArg a{AttrArg::Text};
        a.s = value;
        return setAttr(c, attribute, a);
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, void *value) {
    return withControl(panel, control, [&](Control &c) {
        AttrArg a{AttrArg::Pointer};
        a.p = value;
        return setAttr(c, attribute, a);
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, CtrlCallbackPtr value) {
    return withControl(panel, control, [&](Control &c) {
        AttrArg a{AttrArg::Callback};
        a.cb = value;
        return setAttr(c, attribute, a);
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, int *value) {
    if (!value)
        return kUIEValueInvalid;
    return withControl(panel, control, [&](Control &c) { return getAttrInt(c, attribute, value); });
}

int GetCtrlAttribute(int panel, int control, int attribute, void **value) {
    if (!value)
        return kUIEValueInvalid;
    return withControl(panel, control, [&](Control &c) {
        if (attribute != ATTR_CALLBACK_DATA)
            return kUIEAttrInvalid;
        *value = c.callbackData;
        return 0;
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, CtrlCallbackPtr *value) {
    if (!value)
        return kUIEValueInvalid;
    return withControl(panel, control, [&](Control &c) {
        if (attribute != ATTR_CALLBACK_FUNCTION_POINTER)
            return kUIEAttrInvalid;
        *value = c.callback;
        return 0;
    });
}

int GetCtrlAttributeText(int panel, int control, int attribute, char *text, std::size_t size) {
    if (!text || size == 0)
        return kUIEValueInvalid;
    return withControl(panel, control, [&](Control &c) {
        if (attribute != ATTR_TEXT_FONT)
            return kUIEAttrInvalid;
        copyOut(c.font, text, size);
        return 0;
    });
}

int GetPanelAttribute(int panel, int attribute, int *value) {
    Panel *p = findPanel(panel);
    if (!p)
        return kUIEPanelInvalid;
    if (!value)
        return kUIEValueInvalid;
    switch (attribute) {
    case ATTR_NUM_CTRLS:
        *value = static_cast<int>(p->controls.size());
        return 0;
    case ATTR_PANEL_FIRST_CTRL:
        *value = p->creationOrder.empty() ? 0 : p->creationOrder.front();
        return 0;
    default:
        break;
    }
    const QRect inside = p->window->geometry(), frame = p->window->frameGeometry();
    switch (attribute) {
    case ATTR_VISIBLE:
        *value = p->window->isVisible() ? 1 : 0;
        return 0;
    case ATTR_LEFT:
        *value = inside.left();
        return 0;
    case ATTR_TOP:
        *value = inside.top();
        return 0;
    case ATTR_WIDTH:
        *value = inside.width();
        return 0;
    case ATTR_HEIGHT:
        *value = inside.height();
        return 0;
    case ATTR_TITLEBAR_THICKNESS:
        *value = inside.top() - frame.top();
        return 0;
    case ATTR_FRAME_THICKNESS:
        *value = std::max({inside.left() - frame.left(), frame.right() - inside.right(),
                           frame.bottom() - inside.bottom()});
        return 0;
    default:
        return kUIEAttrInvalid;
    }
}

} // namespace qv::rt
