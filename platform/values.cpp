// Control values, and the items of list controls (rings).
#include "platform/runtime_p.h"

#include <QLineEdit>
#include <QSpinBox>

namespace qv::rt {

using namespace detail;

namespace {
void setDisplayText(Control &c, const QByteArray &bytes, TextCoding coding) {
    c.text = bytes;
    c.textCoding = coding;
    if (c.style == CTRL_TEXT_MSG)
        applyDisplay(c);
    else
        displayChanged(c);
}
} // namespace

int SetCtrlVal(int panel, int control, const char *text, TextCoding coding) {
    if (coding == TextCoding::Latin1)
        return SetCtrlVal(panel, control, text);
    int status = 0;
    Control *c = findControl(panel, control, &status);
    if (!c)
        return status;
    if (!c->isTextDisplay())
        return kUIETypeMismatch;
    setDisplayText(*c, QByteArray(text ? text : ""), coding);
    return 0;
}

int SetCtrlVal(int panel, int control, const char *text) {
    int status = 0;
    Control *c = findControl(panel, control, &status);
    if (!c)
        return status;
    const QByteArray bytes(text ? text : "");
    if (c->isString()) {
        static_cast<QLineEdit *>(c->widget.data())->setText(latin1(bytes));
        return 0;
    }
    if (c->isTextDisplay()) {
        setDisplayText(*c, bytes, TextCoding::Latin1);
        return 0;
    }
    if (c->isRing() && c->dataType == VAL_STRING) {
        for (int i = 0; i < static_cast<int>(c->items.size()); ++i)
            if (c->items[i].text == bytes) {
                c->current = i;
                refreshRingWidget(*c);
                return 0;
            }
        return kUIEValueInvalid;
    }
    return kUIETypeMismatch;
}

int SetCtrlVal(int panel, int control, long long value) {
    int status = 0;
    Control *c = findControl(panel, control, &status);
    if (!c)
        return status;
    if (c->dataType == VAL_UNSIGNED_SHORT_INTEGER)
        value = std::clamp<long long>(value, 0, 65535);
    if (c->isRing() && c->dataType != VAL_STRING) {
        for (int i = 0; i < static_cast<int>(c->items.size()); ++i)
            if (c->items[i].number == value) {
                c->current = i;
                refreshRingWidget(*c);
                return 0;
            }
        return kUIEValueInvalid;
    }
    if (c->style == CTRL_NUMERIC) {
        auto *s = static_cast<QSpinBox *>(c->widget.data());
        s->setProperty("qv_programmatic", true);
        s->setValue(static_cast<int>(std::clamp<long long>(value, s->minimum(), s->maximum())));
        s->setProperty("qv_programmatic", false);
        return 0;
    }
    if (c->style == CTRL_NUMERIC_INDICATOR || c->style == CTRL_NUMERIC_BAR) {
        if (c->number != value) {
            c->number = value;
            displayChanged(*c);
        }
        return 0;
    }
    return kUIETypeMismatch;
}

int SetCtrlVal(int panel, int control, double value) {
    return SetCtrlVal(panel, control, static_cast<long long>(value));
}

namespace {
int numericValue(int panel, int control, long long *out) {
    int status = 0;
    Control *c = findControl(panel, control, &status);
    if (!c)
        return status;
    if (c->isRing() && c->dataType != VAL_STRING) {
        if (c->current < 0)
            return kUIEIndexInvalid;
        *out = c->items[c->current].number;
        return 0;
    }
    if (c->style == CTRL_NUMERIC) {
        auto *s = static_cast<QSpinBox *>(c->widget.data());
        // A value typed but not yet entered counts, as it does for the operator.
        s->interpretText();
        *out = s->value();
        return 0;
    }
    if (c->style == CTRL_NUMERIC_INDICATOR || c->style == CTRL_NUMERIC_BAR) {
        *out = c->number;
        return 0;
    }
    return kUIETypeMismatch;
}
} // namespace

int GetCtrlVal(int panel, int control, unsigned short *value) {
    long long v = 0;
    const int status = numericValue(panel, control, &v);
    if (status == 0 && value)
        *value = static_cast<unsigned short>(std::clamp<long long>(v, 0, 65535));
    return status;
}

int GetCtrlVal(int panel, int control, int *value) {
    long long v = 0;
    const int status = numericValue(panel, control, &v);
    if (status == 0 && value)
        *value = static_cast<int>(v);
    return status;
}

int GetCtrlVal(int panel, int control, double *value) {
    long long v = 0;
    const int status = numericValue(panel, control, &v);
    if (status == 0 && value)
        *value = static_cast<double>(v);
    return status;
}

int GetCtrlValText(int panel, int control, char *text, std::size_t size) {
    int status = 0;
    Control *c = findControl(panel, control, &status);
    if (!c)
        return status;
    if (!text || size == 0)
        return kUIEValueInvalid;
    if (c->isString()) {
        copyOut(static_cast<QLineEdit *>(c->widget.data())->text().toLatin1(), text, size);
        return 0;
    }
    if (c->isTextDisplay()) {
        copyOut(c->text, text, size);
        return 0;
    }
    if (c->isRing() && c->dataType == VAL_STRING) {
        if (c->current < 0)
            return kUIEIndexInvalid;
        copyOut(c->items[c->current].text, text, size);
        return 0;
    }
    return kUIETypeMismatch;
}

// ---- Lists. ----

namespace {
int withList(int panel, int control, const std::function<int(Control &)> &fn) {
    return withControl(panel, control, [&](Control &c) {
        if (!c.isRing())
            return kUIENotList;
        return fn(c);
    });
}

int insertItem(Control &c, int index, ListItem item) {
    const int n = static_cast<int>(c.items.size());
    if (index == -1)
        index = n;
    if (index < 0 || index > n)
        return kUIEIndexInvalid;
    c.items.insert(c.items.begin() + index, std::move(item));
    if (c.current < 0)
        c.current = 0;
    else if (index <= c.current)
        ++c.current;
    refreshRingWidget(c);
    return 0;
}
} // namespace

int InsertListItem(int panel, int control, int index, const char *label, const char *value) {
    return withList(panel, control, [&](Control &c) {
        if (c.dataType != VAL_STRING)
            return kUIETypeMismatch;
        return insertItem(c, index, ListItem{label ? label : "", value ? value : "", 0});
    });
}

int InsertListItem(int panel, int control, int index, const char *label, int value) {
    return withList(panel, control, [&](Control &c) {
        if (c.dataType == VAL_STRING)
            return kUIETypeMismatch;
        return insertItem(c, index, ListItem{label ? label : "", QByteArray(), value});
    });
}

int DeleteListItem(int panel, int control, int index, int count) {
    return withList(panel, control, [&](Control &c) {
        const int n = static_cast<int>(c.items.size());
        if (index < 0 || index >= n)
            return n == 0 && index == 0 && count == -1 ? 0 : kUIEIndexInvalid;
        if (count == -1)
            count = n - index;
        if (count < 0)
            return kUIEValueInvalid;
        count = std::min(count, n - index);
        c.items.erase(c.items.begin() + index, c.items.begin() + index + count);
        if (c.current >= index + count)
            c.current -= count;
        else if (c.current >= index)
            c.current =
                c.items.empty() ? -1 : std::min(index, static_cast<int>(c.items.size()) - 1);
        refreshRingWidget(c);
        return 0;
    });
}

int ReplaceListItem(int panel, int control, int index, const char *label, const char *value) {
    return withList(panel, control, [&](Control &c) {
        if (c.dataType != VAL_STRING)
            return kUIETypeMismatch;
        if (index < 0 || index >= static_cast<int>(c.items.size()))
            return kUIEIndexInvalid;
        c.items[index] = ListItem{label ? label : "", value ? value : "", 0};
        refreshRingWidget(c);
        return 0;
    });
}

int GetIndexFromValue(int panel, int control, int *index, const char *value) {
    if (!index)
        return kUIEValueInvalid;
    return withList(panel, control, [&](Control &c) {
        if (c.dataType != VAL_STRING)
            return kUIETypeMismatch;
        const QByteArray v(value ? value : "");
        *index = -1;
        for (int i = 0; i < static_cast<int>(c.items.size()); ++i)
            if (c.items[i].text == v) {
                *index = i;
                break;
            }
        return 0;
    });
}

int GetIndexFromValue(int panel, int control, int *index, int value) {
    if (!index)
        return kUIEValueInvalid;
    return withList(panel, control, [&](Control &c) {
        if (c.dataType == VAL_STRING)
            return kUIETypeMismatch;
        *index = -1;
        for (int i = 0; i < static_cast<int>(c.items.size()); ++i)
            if (c.items[i].number == value) {
                *index = i;
                break;
            }
        return 0;
    });
}

int GetNumListItems(int panel, int control, int *count) {
    if (!count)
        return kUIEValueInvalid;
    return withList(panel, control, [&](Control &c) {
        *count = static_cast<int>(c.items.size());
        return 0;
    });
}

int GetValueFromIndexText(int panel, int control, int index, char *value, std::size_t size) {
    if (!value || size == 0)
        return kUIEValueInvalid;
    return withList(panel, control, [&](Control &c) {
        if (c.dataType != VAL_STRING)
            return kUIETypeMismatch;
        if (index < 0 || index >= static_cast<int>(c.items.size()))
            return kUIEIndexInvalid;
        copyOut(c.items[index].text, value, size);
        return 0;
    });
}

int GetValueLengthFromIndex(int panel, int control, int index, int *length) {
    if (!length)
        return kUIEValueInvalid;
    return withList(panel, control, [&](Control &c) {
        if (c.dataType != VAL_STRING)
            return kUIETypeMismatch;
        if (index < 0 || index >= static_cast<int>(c.items.size()))
            return kUIEIndexInvalid;
        *length = static_cast<int>(c.items[index].text.size());
        return 0;
    });
}

} // namespace qv::rt
