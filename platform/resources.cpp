// The resource file: panels and their controls, read from JSON and built.
#include "platform/runtime_p.h"
#include "platform/utility.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTimer>

#include <string>

namespace qv::rt::detail {

namespace {

std::string g_lastResourceError;

int failLoad(int status, const QString &why) {
    g_lastResourceError = why.toStdString();
    return status;
}

int colorFrom(const QJsonValue &v, int fallback) {
    if (v.isDouble())
        return v.toInt();
    if (v.isString()) {
        QString s = v.toString();
        if (s == QLatin1String("transparent"))
            return VAL_TRANSPARENT;
        s.remove('#');
        bool ok = false;
        const int c = s.toInt(&ok, 16);
        return ok ? c : fallback;
    }
    return fallback;
}

struct KindInfo {
    const char *name;
    int style;
};
constexpr KindInfo kKinds[] = {
    {"command_button", CTRL_COMMAND_BUTTON},
    {"numeric", CTRL_NUMERIC},
    {"numeric_indicator", CTRL_NUMERIC_INDICATOR},
    {"numeric_bar", CTRL_NUMERIC_BAR},
    {"string", CTRL_STRING},
    {"text_message", CTRL_TEXT_MSG},
    {"text_indicator", CTRL_TEXT_INDICATOR},
    {"ring", CTRL_RING},
    {"popup_ring", CTRL_POPUP_RING},
    {"picture", CTRL_PICTURE},
    {"decoration", CTRL_DECORATION},
    {"canvas", CTRL_CANVAS},
};

int styleOfKind(const QString &kind, int look) {
    for (const KindInfo &k : kKinds)
        if (kind == QLatin1String(k.name)) {
            if (look == 2 && k.style == CTRL_STRING)
                return CTRL_STRING_LS;
            if (look == 2 && k.style == CTRL_POPUP_RING)
                return CTRL_POPUP_RING_LS;
            if (look == 2 && k.style == CTRL_DECORATION)
                return CTRL_DECORATION_LS;
            return k.style;
        }
    return 0;
}

int dataTypeOf(const QString &name) {
    if (name == QLatin1String("string"))
        return VAL_STRING;
    if (name == QLatin1String("int"))
        return VAL_INTEGER;
    return VAL_UNSIGNED_SHORT_INTEGER;
}

int loadControl(Panel &p, const QJsonObject &o, const QString &fileName) {
    const int id = o.value("id").toInt(0);
    const QString name = o.value("name").toString();
    const QString what = QStringLiteral("%1: control %2").arg(fileName, name);
    if (id <= 0 || p.find(id))
        return failLoad(kUIEBadFormat, what + QStringLiteral(" has a missing or repeated id"));
    const int style = styleOfKind(o.value("kind").toString(), o.value("look").toInt(1));
    if (!style)
        return failLoad(kUIEBadFormat, what + QStringLiteral(" has an unknown kind"));
    auto c = std::make_unique<Control>();
    c->id = id;
    c->style = style;
    c->panel = &p;
    c->geometry = QRect(o.value("left").toInt(), o.value("top").toInt(),
                        o.value("width").toInt(100), o.value("height").toInt(20));
    c->text = o.value("label").toString().toLatin1();
    const QString place = o.value("label_place").toString("top");
    c->captionPlace = place == QLatin1String("left")   ? detail::LabelPlace::Left
                      : place == QLatin1String("none") ? detail::LabelPlace::None
                                                       : detail::LabelPlace::Top;
    c->captionDx = o.value("label_dx").toInt(0);
    c->dataType = dataTypeOf(o.value("data_type").toString());
    c->minValue = o.value("min").toInteger(0);
    c->maxValue = o.value("max").toInteger(c->dataType == VAL_INTEGER ? 2147483647 : 65535);
    c->maxEntryLength = o.value("max_entry_length").toInt(-1);
    c->textColor = colorFrom(o.value("text_color"), c->textColor);
    c->bgColor =
        colorFrom(o.value("bg_color"), style == CTRL_TEXT_MSG ? VAL_TRANSPARENT : c->bgColor);
    c->frameColor = colorFrom(o.value("frame_color"), c->frameColor);
    c->buttonColor = colorFrom(o.value("button_color"), c->buttonColor);
    c->pointSize = o.value("point_size").toInt(0);
    c->bold = o.value("bold").toBool(false);
    const QString justify = o.value("justify").toString();
    c->justify = justify == QLatin1String("center")  ? VAL_CENTER_JUSTIFIED
                 : justify == QLatin1String("right") ? VAL_RIGHT_JUSTIFIED
                                                     : VAL_LEFT_JUSTIFIED;
    c->wrap = o.value("wrap").toBool(false);
    c->visible = o.value("visible").toBool(true);
    c->dimmed = o.value("dimmed").toBool(false);
    const QJsonValue value = o.value("value");
    for (const QJsonValue item : o.value("items").toArray()) {
        const QJsonObject io = item.toObject();
        ListItem li;
        li.label = io.value("label").toString().toLatin1();
        if (io.value("value").isString()) {
            li.text = io.value("value").toString().toLatin1();
            c->dataType = VAL_STRING;
        } else {
            li.number = io.value("value").toInteger();
        }
        c->items.push_back(li);
    }
    if (c->isRing() && !c->items.empty()) {
        c->current = 0;
        for (int i = 0; i < static_cast<int>(c->items.size()); ++i)
            if ((value.isString() && c->items[i].text == value.toString().toLatin1()) ||
                (value.isDouble() && c->items[i].number == value.toInteger()))
                c->current = i;
    } else if (value.isString()) {
        if (c->isString() || c->isTextDisplay()) {
            // Editable text lives in the widget; keep it apart from the caption until built.
            c->number = 0;
        } else {
            return failLoad(kUIEBadFormat, what + QStringLiteral(" has a text value"));
        }
    } else if (value.isDouble()) {
        c->number = value.toInteger();
    }
    const QString cb = o.value("callback").toString();
    if (!cb.isEmpty()) {
        if (!rt().resolver)
            return failLoad(kUIEBadFormat, what + QStringLiteral(": no callback table"));
        c->callback = rt().resolver(cb.toStdString()).control;
        if (!c->callback)
            return failLoad(kUIEBadFormat,
                            what + QStringLiteral(" names an unknown callback ") + cb);
    }
    Control &ref = *c;
    p.controls[id] = std::move(c);
    addToOrders(p, id);
    // Text values of text displays and string controls go in after the widget exists.
    const QByteArray caption = ref.text;
    const int status = buildWidget(p, ref);
    if (status < 0)
        return failLoad(status, what + QStringLiteral(" cannot be built"));
    if (value.isString()) {
        const QByteArray v = value.toString().toLatin1();
        if (ref.isString())
            static_cast<QLineEdit *>(ref.widget.data())->setText(latin1(v));
        else {
            ref.text = v;
            applyDisplay(ref);
        }
    } else if (ref.style == CTRL_TEXT_MSG) {
        ref.text = caption;
        applyDisplay(ref);
    }
    if (const QJsonValue img = o.value("image"); img.isString())
        DisplayImageFile(p.handle, id, img.toString().toLatin1().constData());
    return 0;
}

} // namespace

QString resolvePath(const char *fileName) {
    const QString name = QString::fromLocal8Bit(fileName);
    if (QDir::isAbsolutePath(name))
        return name;
    char dir[1024];
    GetProjectDir(dir);
    return QDir(QString::fromLocal8Bit(dir)).filePath(name);
}

} // namespace qv::rt::detail

namespace qv::rt {

using namespace detail;

void SetCallbackResolver(CallbackResolver resolver) {
    rt().resolver = std::move(resolver);
}

const char *LastResourceError() {
    return g_lastResourceError.c_str();
}

int LoadPanel(int parent, const char *fileName, int resourceId) {
    (void)parent; // every panel of this program is a top-level window
    if (!QApplication::instance())
        return failLoad(kUIENotInitialized, QStringLiteral("the run-time is not initialised"));
    if (!fileName)
        return failLoad(kUIEFileNotFound, QStringLiteral("no resource file named"));
    const QString path = resolvePath(fileName);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failLoad(kUIEFileNotFound, path + QStringLiteral(": ") + file.errorString());
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (doc.isNull() || !doc.isObject())
        return failLoad(kUIEBadFormat, path + QStringLiteral(": not a resource file (") +
                                           error.errorString() + QStringLiteral(")"));
    QJsonObject panelObject;
    for (const QJsonValue v : doc.object().value("panels").toArray())
        if (v.toObject().value("resource").toInt(-1) == resourceId)
            panelObject = v.toObject();
    if (panelObject.isEmpty())
        return failLoad(kUIEPanelNotFound, path + QStringLiteral(": no panel %1").arg(resourceId));

    auto p = std::make_unique<Panel>();
    Panel &panel = *p;
    panel.handle = rt().nextHandle++;
    panel.resourceId = resourceId;
    panel.name = panelObject.value("name").toString().toLatin1();
    panel.window = new PanelWindow(panel.handle);
    panel.window->setWindowTitle(panelObject.value("title").toString());
    panel.window->setFixedSize(panelObject.value("width").toInt(400),
                               panelObject.value("height").toInt(300));
    panel.window->setAutoFillBackground(true);
    if (panelObject.contains("bg_color")) {
        QPalette pal = panel.window->palette();
        pal.setColor(QPalette::Window, ColorOf(colorFrom(panelObject.value("bg_color"), 0xF0F0F0)));
        panel.window->setPalette(pal);
    }
    panel.refreshTimer.setSingleShot(true);
    const int handle = panel.handle;
    QObject::connect(&panel.refreshTimer, &QTimer::timeout, panel.window, [handle] {
        if (Panel *pp = findPanel(handle))
            flushDisplays(*pp);
    });
    rt().panels[handle] = std::move(p);

    auto fail = [&](int status) {
        delete panel.window.data();
        rt().panels.erase(handle);
        return status;
    };
    const QString cb = panelObject.value("callback").toString();
    if (!cb.isEmpty()) {
        panel.callback = rt().resolver ? rt().resolver(cb.toStdString()).panel : nullptr;
        if (!panel.callback)
            return fail(
                failLoad(kUIEBadFormat, path + QStringLiteral(": unknown panel callback ") + cb));
    }
    for (const QJsonValue v : panelObject.value("controls").toArray()) {
        const int status = loadControl(panel, v.toObject(), path);
        if (status < 0)
            return fail(status);
    }
    applyTabOrder(panel);
    applyZOrder(panel);
    return handle;
}

} // namespace qv::rt
