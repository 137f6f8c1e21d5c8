#include "ui/Icons.h"

#include <array>

// The resources live in a static library: register them before first use.
// Outside any namespace, as the registration function is declared in place.
static void EnsureResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(movenna);
        return true;
    }();
    (void)done;
}

namespace {

QIcon Own(const char* file) {
    EnsureResources();
    return QIcon(QStringLiteral(":/movenna/icons/") + QLatin1String(file));
}

struct ToolbarImage {
    const char* name;
    const char* themeName;
    const char* themeAlternative;
    const char* file;
};

constexpr std::array<ToolbarImage, 5> kToolbarImages = {{
    {.name = "add", .themeName = "list-add", .themeAlternative = nullptr, .file = "add.svg"},
    {.name = "remove", .themeName = "list-remove", .themeAlternative = nullptr, .file = "remove.svg"},
    {.name = "convert", .themeName = "media-playback-start", .themeAlternative = "system-run", .file = "convert.svg"},
    {.name = "settings", .themeName = "preferences-system", .themeAlternative = nullptr, .file = "settings.svg"},
    {.name = "help", .themeName = "help-contents", .themeAlternative = nullptr, .file = "help.svg"},
}};

const ToolbarImage* FindToolbarImage(const QString& name) {
    for (const ToolbarImage& t : kToolbarImages)
        if (name == QLatin1String(t.name)) return &t;
    return nullptr;
}

}  // namespace

QIcon OwnToolbarIcon(const QString& name) {
    const ToolbarImage* t = FindToolbarImage(name);
    return t != nullptr ? Own(t->file) : QIcon();
}

QIcon ToolbarIcon(const QString& name) {
    const ToolbarImage* t = FindToolbarImage(name);
    if (t == nullptr) return {};
    if (QIcon::hasThemeIcon(QLatin1String(t->themeName))) return QIcon::fromTheme(QLatin1String(t->themeName));
    if (t->themeAlternative != nullptr && QIcon::hasThemeIcon(QLatin1String(t->themeAlternative)))
        return QIcon::fromTheme(QLatin1String(t->themeAlternative));
    return Own(t->file);
}

// On a selected row the style would tint the image with the highlight and
// wash out its colour: selected rows show the image as it is.
static QIcon ListImage(const char* file) {
    QIcon icon = Own(file);
    icon.addFile(QStringLiteral(":/movenna/icons/") + QLatin1String(file), QSize(), QIcon::Selected);
    return icon;
}

QList<QIcon> ListImages() {
    return {ListImage("ready.svg"), ListImage("progress.svg"), ListImage("done.svg"), ListImage("failed.svg")};
}

QIcon IdlePicture() { return Own("idle.svg"); }

QString BusyPicturePath() {
    EnsureResources();
    return QStringLiteral(":/movenna/icons/busy.svg");
}

QIcon ProgramIcon() { return Own("movenna.svg"); }
