#include "ui/Help.h"

#include "ui/Icons.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QListWidget>
#include <QPointer>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>
#include <array>

// The resources live in a static library: register them before first use.
// Outside any namespace, as the registration function is declared in place.
void HelpEnsureResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(help);
        return true;
    }();
    (void)done;
}

namespace {

constexpr std::array<HelpPage, 15> kHelpPages = {{
    {.file = "index.html", .title = QT_TRANSLATE_NOOP("TFHelp", "Contents")},
    {.file = "getting-started.html", .title = QT_TRANSLATE_NOOP("TFHelp", "Getting started")},
    {.file = "main-window.html", .title = QT_TRANSLATE_NOOP("TFHelp", "The main window")},
    {.file = "adding-videos.html", .title = QT_TRANSLATE_NOOP("TFHelp", "Adding videos")},
    {.file = "file-menu.html", .title = QT_TRANSLATE_NOOP("TFHelp", "The File menu")},
    {.file = "options-menu.html", .title = QT_TRANSLATE_NOOP("TFHelp", "The Options menu")},
    {.file = "help-menu.html", .title = QT_TRANSLATE_NOOP("TFHelp", "The Help menu")},
    {.file = "list-menu.html", .title = QT_TRANSLATE_NOOP("TFHelp", "The job list: pop-up menu and keys")},
    {.file = "settings-conversion.html", .title = QT_TRANSLATE_NOOP("TFHelp", "Settings: the Conversion page")},
    {.file = "settings-general.html", .title = QT_TRANSLATE_NOOP("TFHelp", "Settings: the General page")},
    {.file = "profiles.html", .title = QT_TRANSLATE_NOOP("TFHelp", "Video formats (output profiles)")},
    {.file = "status.html", .title = QT_TRANSLATE_NOOP("TFHelp", "What the Status column means")},
    {.file = "problems.html", .title = QT_TRANSLATE_NOOP("TFHelp", "Common problems")},
    {.file = "files.html", .title = QT_TRANSLATE_NOOP("TFHelp", "Where Movenna keeps its files")},
    {.file = "about.html", .title = QT_TRANSLATE_NOOP("TFHelp", "About Movenna")},
}};

// Rich text understands a subset of CSS only; one sheet serves every page.
constexpr const char* kHelpStyle =
    "body { font-size: 10pt; }"
    "h1 { font-size: 16pt; color: #1f4e8c; }"
    "h2 { font-size: 12.5pt; color: #1f4e8c; margin-top: 14px; }"
    "h3 { font-size: 11pt; margin-top: 10px; }"
    "th { background-color: #dde7f5; text-align: left; }"
    "td, th { padding: 3px; }"
    "code, kbd { font-family: monospace; background-color: #f0f0f0; }"
    "p.note { background-color: #fff7d6; }";

QPointer<TFHelp> HelpWindowInstance;

QString PageFileOf(const QUrl& url) {
    const QString path = url.path();
    return path.mid(path.lastIndexOf('/') + 1);
}

} // namespace

std::span<const HelpPage> HelpPages() {
    return kHelpPages;
}

QUrl HelpPageUrl(const QString& file) {
    return QUrl(QStringLiteral("qrc:/help/") + file);
}

TFHelp::TFHelp(QWidget* parent) : QMainWindow(parent) {
    HelpEnsureResources();
    setObjectName("FHelp");
    setWindowTitle(tr("Movenna Help"));
    setWindowIcon(ProgramIcon());

    auto* toolbar = addToolBar(tr("Navigation"));
    toolbar->setObjectName("ToolBarHelp");
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ActBack = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), tr("&Back"));
    ActBack->setObjectName("ActBack");
    ActBack->setShortcut(QKeySequence::Back);
    ActForward = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), tr("&Forward"));
    ActForward->setObjectName("ActForward");
    ActForward->setShortcut(QKeySequence::Forward);
    ActContents = toolbar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), tr("&Contents"));
    ActContents->setObjectName("ActContents");
    ActContents->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Home));

    LBContents = new QListWidget;
    LBContents->setObjectName("LBContents");
    LBContents->setStyleSheet("QListWidget::item { padding: 3px 6px; }");
    LBContents->setWordWrap(true);
    LBContents->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (const HelpPage& page : kHelpPages) {
        auto* item = new QListWidgetItem(tr(page.title), LBContents);
        item->setData(Qt::UserRole, QLatin1String(page.file));
    }

    HelpText = new QTextBrowser;
    HelpText->setObjectName("HelpText");
    HelpText->setOpenLinks(true);
    // Web addresses go to the browser; pages of the help stay in this window.
    HelpText->setOpenExternalLinks(true);
    HelpText->document()->setDefaultStyleSheet(kHelpStyle);
    HelpText->setSearchPaths({":/help"});

    auto* splitter = new QSplitter;
    splitter->addWidget(LBContents);
    splitter->addWidget(HelpText);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({240, 620});
    setCentralWidget(splitter);

    connect(ActBack, &QAction::triggered, HelpText, &QTextBrowser::backward);
    connect(ActForward, &QAction::triggered, HelpText, &QTextBrowser::forward);
    connect(ActContents, &QAction::triggered, this,
            [this] { OpenPage(QLatin1String(kHelpPages[0].file)); });
    connect(HelpText, &QTextBrowser::backwardAvailable, ActBack, &QAction::setEnabled);
    connect(HelpText, &QTextBrowser::forwardAvailable, ActForward, &QAction::setEnabled);
    connect(HelpText, &QTextBrowser::sourceChanged, this, &TFHelp::SourceChanged);
    connect(LBContents, &QListWidget::itemClicked, this, &TFHelp::ContentsClicked);
    connect(LBContents, &QListWidget::itemActivated, this, &TFHelp::ContentsClicked);
    ActBack->setEnabled(false);
    ActForward->setEnabled(false);

    // A window of its own with no menu: Esc and Ctrl+W put it away.
    ActClose = new QAction(tr("Close"), this);
    ActClose->setObjectName("ActClose");
    ActClose->setShortcuts({QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)});
    ActClose->setShortcutContext(Qt::WindowShortcut);
    addAction(ActClose);
    connect(ActClose, &QAction::triggered, this, &QWidget::close);

    OpenPage(QLatin1String(kHelpPages[0].file));
    resize(860, 600);
}

void TFHelp::OpenPage(const QString& file) {
    HelpText->setSource(HelpPageUrl(file));
}

QString TFHelp::CurrentPage() const {
    return PageFileOf(HelpText->source());
}

void TFHelp::SourceChanged(const QUrl& url) {
    const QString file = PageFileOf(url);
    const QSignalBlocker block(LBContents);
    for (int i = 0; i < LBContents->count(); ++i) {
        if (LBContents->item(i)->data(Qt::UserRole).toString() == file) {
            LBContents->setCurrentRow(i);
            break;
        }
    }
    const QString title = HelpText->documentTitle();
    setWindowTitle(title.isEmpty() ? tr("Movenna Help") : tr("Movenna Help - %1").arg(title));
}

void TFHelp::ContentsClicked(QListWidgetItem* item) {
    if (item != nullptr) OpenPage(item->data(Qt::UserRole).toString());
}

void HelpInitialize() {
    if (HelpWindowInstance.isNull()) HelpWindowInstance = new TFHelp;
}

void HelpUninitialize() {
    if (!HelpWindowInstance.isNull()) {
        HelpWindowInstance->close();
        delete HelpWindowInstance.data();
    }
}

TFHelp* HelpWindow() {
    return HelpWindowInstance.data();
}

namespace {

void ShowHelpPage(const QString& file) {
    HelpInitialize();
    TFHelp* w = HelpWindowInstance.data();
    w->OpenPage(file);
    // Asked from inside a modal dialog (tip, about, settings): the help must
    // take input too, so it joins the modal stack until it is closed.
    QWidget* modal = QApplication::activeModalWidget();
    const Qt::WindowModality wanted =
        modal != nullptr && modal != w ? Qt::ApplicationModal : Qt::NonModal;
    if (w->windowModality() != wanted) {
        w->hide();
        w->setWindowModality(wanted);
    }
    w->show();
    w->raise();
    w->activateWindow();
}

} // namespace

void ShowHelpContents() {
    ShowHelpPage(QLatin1String(kHelpPages[0].file));
}

void ShowHelp(int context) {
    // Every context leads to the same first page: the contents list names
    // them all, and a user who pressed F1 sees where to go from there.
    (void)context;
    ShowHelpContents();
}

void InstallHelpKey(QWidget* window, int context) {
    auto* key = new QShortcut(QKeySequence::HelpContents, window);
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, window, [context] { ShowHelp(context); });
}
