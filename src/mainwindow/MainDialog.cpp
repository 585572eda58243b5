#include "MainDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QScrollBar>
#include <QStyle>
#include <QTreeWidget>

#include "Administrator.h"
#include "CopyOutRun.h"
#include "HarvestPass.h"
#include "ScanRun.h"
#include "SettingsFiles.h"
#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "DialogTemplate.h"
#include "DialogUnits.h"
#include "PhotoPreviewWindow.h"
#include "PlatformServices.h"
#include "ResultViews.h"
#include "RectEdges.h"
#include "Resources.h"
#include "TimerIds.h"
#include "TimerService.h"

namespace snapmend {
namespace {

constexpr int kStartupDelayMs = 100;
constexpr int kNoAdministratorExitCode = 18;
constexpr int kThumbnailSize = 64;
constexpr int kFileListId = 1017;

const QString kUiFont = QStringLiteral("Ariel");
constexpr ColorRef kWhite = Rgb(255, 255, 255);
constexpr ColorRef kLinkGreen = Rgb(0, 255, 0);
constexpr ColorRef kSelectionLinkBlue = Rgb(0, 0, 180);
constexpr ColorRef kStatusPink = Rgb(255, 105, 180);
constexpr ColorRef kLoadingPink = Rgb(255, 105, 255);
const QColor kCheckFrameShade(90, 90, 90);

QWidget* MakeControl(const ControlTemplate& control, QWidget* parent)
{
    const QString text = QString::fromLatin1(control.text);
    switch (control.kind) {
    case ControlKind::Button:
        return new CStyledButton(text, parent);
    case ControlKind::Static: {
        auto* label = new CStyledLabel(text, parent);
        Qt::Alignment alignment = (control.styles & StyleCentered) ? Qt::AlignHCenter : Qt::AlignLeft;
        alignment |= (control.styles & StyleCenterVertically) ? Qt::AlignVCenter : Qt::AlignTop;
        label->setAlignment(alignment);
        return label;
    }
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(text, parent);
        edit->setEnabled(!(control.styles & StyleDisabled));
        return edit;
    }
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setTextVisible(false);
        return bar;
    }
    case ControlKind::ListView:
        if (control.styles & StyleIconView) {
            auto* list = new PhotoListView(parent);
            list->setViewMode(QListView::IconMode);
            list->setMovement(QListView::Static);
            list->setResizeMode(QListView::Adjust);
            return list;
        }
        // The result list is a view over the program's model; the drive list keeps its items.
        QTreeView* tree = control.id == kFileListId ? static_cast<QTreeView*>(new FileListView(parent))
                                                    : new QTreeWidget(parent);
        tree->setRootIsDecorated(false);
        tree->setItemsExpandable(false);
        tree->setUniformRowHeights(true);
        tree->setSelectionMode((control.styles & StyleSingleSelection) ? QAbstractItemView::SingleSelection
                                                                        : QAbstractItemView::ExtendedSelection);
        if (auto* items = qobject_cast<QTreeWidget*>(tree))
            items->setColumnCount(0);
        return tree;
    }
    return nullptr;
}

}  // namespace

MainDialog::MainDialog(PlatformServices& platform, QWidget* parent)
    : CBitmapDialog(parent), m_platform(platform)
{
    const DialogTemplate& dialog = MainDialogTemplate();
    setWindowTitle(QString::fromLatin1(dialog.caption));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(DialogUnitsToPixelsX(dialog.width), DialogUnitsToPixelsY(dialog.height));
    m_hIcon = LoadIconResource(IDR_MAINFRAME);
    m_timers = new TimerService([this](int id) { OnTimer(id); }, this);
    m_scan = new ScanRun(*m_platform.ui, this, this);
    m_harvest = new HarvestPass(DataFolder(m_platform) + QStringLiteral("icon.png"), this);
    m_copy = new CopyOutRun(this);
    CreateControls(dialog);
    DoDataExchange();
    ConnectControls();
    InitImageCopy();
}

QWidget* MainDialog::Control(int id) const
{
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void MainDialog::CreateControls(const DialogTemplate& dialog)
{
    for (const ControlTemplate& control : dialog.controls) {
        QWidget* widget = MakeControl(control, this);
        widget->setObjectName(QStringLiteral("control%1").arg(control.id));
        widget->setGeometry(DialogUnitsToPixels(control.x, control.y, control.width, control.height));
        widget->setFocusPolicy((control.styles & StyleTabStop) ? Qt::StrongFocus : Qt::NoFocus);
        m_controls[control.id] = widget;
    }
}

template <typename T>
void MainDialog::DDX_Control(int id, T*& member)
{
    member = qobject_cast<T*>(Control(id));
    Q_ASSERT(member);
}

void MainDialog::DoDataExchange()
{
    DDX_Control(1018, m_lnkSelectPhotos);
    DDX_Control(1019, m_lnkSelectFiles);
    DDX_Control(1017, m_lstFiles);
    DDX_Control(1016, m_lblLoading);
    DDX_Control(1015, m_lnkSettings);
    DDX_Control(1014, m_lnkHelp);
    DDX_Control(1013, m_lblStatus);
    DDX_Control(1012, m_lblProgress);
    DDX_Control(1011, m_progress);
    DDX_Control(1010, m_lstPhotos);
    DDX_Control(1003, m_edtOutputDir);
    DDX_Control(1005, m_lblOutputDir);
    DDX_Control(1008, m_lblSelectDrive);
    DDX_Control(1004, m_btnStart);
    DDX_Control(1009, m_btnRefresh);
    DDX_Control(1000, m_btnBrowse);
    DDX_Control(1002, m_btnRecover);
    DDX_Control(1001, m_lstDrives);
}

void MainDialog::ConnectControls()
{
    connect(m_btnBrowse, &QPushButton::clicked, this, &MainDialog::BrowseForOutputFolder);
    connect(m_btnStart, &QPushButton::clicked, this, &MainDialog::OnStart);
    connect(m_btnRefresh, &QPushButton::clicked, this, &MainDialog::OnRefresh);
    connect(m_btnRecover, &QPushButton::clicked, this, &MainDialog::OnRecoverClicked);
    connect(m_lnkHelp, &CStyledLabel::clicked, this, &MainDialog::OpenHelp);
    connect(m_lnkSettings, &CStyledLabel::clicked, this, &MainDialog::OpenFileTypesDialog);
    connect(m_lnkSelectPhotos, &CStyledLabel::clicked, this, &MainDialog::OnPhotoLinkClicked);
    connect(m_lnkSelectFiles, &CStyledLabel::clicked, this, &MainDialog::OnFileLinkClicked);
    connect(m_lstFiles->header(), &QHeaderView::sectionClicked, this, &MainDialog::OnHeaderClick);
    connect(m_lstPhotos, &PhotoListView::photoActivated, this, &MainDialog::OnPhotoActivated);
    connect(m_scan, &ScanRun::ended, this, &MainDialog::OnScanEnded);
    connect(m_harvest, &HarvestPass::photosFound, this, &MainDialog::AddThumbnails);
    connect(m_harvest, &HarvestPass::filesFound, this, &MainDialog::AddFileRows);
}

int MainDialog::DoModal()
{
    OnInitDialog();
    // A quit request posted during initialisation ends the modal loop at once.
    if (m_quitRequest)
        return *m_quitRequest;
    return exec();
}

bool MainDialog::OnInitDialog()
{
    SetBackgroundBitmap(IDB_BACKGROUND, -1);
    setWindowIcon(m_hIcon);
    InitControls();
    if (!IsAdministrator(m_platform, this)) {
        hide();
        PostQuitMessage(kNoAdministratorExitCode);
        ShowLoading();
        return true;
    }
    m_timers->SetTimer(TIMER_STARTUP, kStartupDelayMs);
    ShowLoading();
    return true;
}

void MainDialog::PostQuitMessage(int exitCode)
{
    m_quitRequest = exitCode;
    QMetaObject::invokeMethod(this, [this, exitCode] { done(exitCode); }, Qt::QueuedConnection);
}

void MainDialog::StyleButton(CStyledButton& button)
{
    button.ShiftStateColor(CStyledButton::ColorBackActive, 30);
    button.SetStateColor(CStyledButton::ColorTextActive, Rgb(255, 0, 255));
    button.SetStateColor(CStyledButton::ColorTextNormal, Rgb(0, 255, 255));
    button.SetStateColor(CStyledButton::ColorTextFocused, Rgb(0, 255, 255));
    button.SetHoverCursor(IDC_HAND);
    button.SetFlatLook(false);
    button.MakeTransparent(false);
}

void MainDialog::InitControls()
{
    InitDriveList();
    for (CStyledButton* button : {m_btnBrowse, m_btnStart, m_btnRefresh})
        StyleButton(*button);
    for (CStyledLabel* caption : {m_lblSelectDrive, m_lblOutputDir})
        caption->SetTransparent(true).SetFontName(kUiFont, 0).SetFontSize(9).SetTextColor(kWhite);
    QCursor hand;
    const bool haveHand = LoadCursorResource(IDC_HAND, hand);
    for (CStyledLabel* link : {m_lnkSettings, m_lnkHelp}) {
        link->SetTransparent(true).SetFontName(kUiFont, 0).SetFontSize(9).SetTextColor(kLinkGreen)
            .SetFontUnderline(true).SetLink(true, true);
        if (haveHand)
            link->SetLinkCursor(hand);
    }
    InitResultViews();
}

void MainDialog::InitResultViews()
{
    // 1. Recover stands exactly where Start stands; which one shows tells the view.
    StyleButton(*m_btnRecover);
    m_btnRecover->setGeometry(m_btnStart->geometry());
    m_btnRecover->hide();

    // 2. The status line above the result views.
    const QRect selectDrive = m_lblSelectDrive->geometry();
    m_lblStatus->SetTransparent(true).SetFontName(kUiFont, 0).SetFontSize(12).SetFontBold(true)
        .SetFontItalic(true).SetTextColor(kStatusPink);
    m_lblStatus->setGeometry(selectDrive.x(), 5, m_lblStatus->width(), selectDrive.height() + 5);
    m_lblStatus->hide();

    // 3. The loading label.
    m_lblLoading->SetTransparent(true).SetFontName(kUiFont, 0).SetFontSize(14).SetFontBold(true)
        .SetFontItalic(true).SetTextColor(kLoadingPink);

    // 4. The selection links.
    QCursor hand;
    const bool haveHand = LoadCursorResource(IDC_HAND, hand);
    for (CStyledLabel* link : {m_lnkSelectPhotos, m_lnkSelectFiles}) {
        link->SetTransparent(true).SetFontName(kUiFont, 0).SetFontSize(9).SetTextColor(kSelectionLinkBlue)
            .SetFontUnderline(true).SetLink(true, true);
        if (haveHand)
            link->SetLinkCursor(hand);
    }

    // 5. The loading label centred in the window's outer rectangle.
    const QSize window = frameGeometry().size();
    const int loadingWidth = selectDrive.width() + 30;
    const int loadingHeight = selectDrive.height() + 10;
    m_lblLoading->setGeometry((window.width() - loadingWidth) / 2, (window.height() - loadingHeight) / 2,
                              loadingWidth, loadingHeight);
    m_lblLoading->hide();

    // 6. The progress bar under the Start button's row.
    const QRect start = m_btnStart->geometry();
    const int outputWidth = m_edtOutputDir->width();
    const int progressHeight = m_progress->height();
    const int progressTop = BottomEdge(start) + 15 - progressHeight;
    m_progress->setGeometry(start.x(), progressTop, outputWidth, progressHeight);
    m_progress->hide();

    // 7. The progress text: above the bar outside a scan, right of Cancel during one.
    m_lblProgress->SetTransparent(true).SetFontName(kUiFont, 0).SetFontSize(9).SetTextColor(kWhite);
    m_rcProgressLine = RectFromEdges(start.x(), progressTop - 25, start.x() + outputWidth, progressTop - 5);
    m_rcTipLine = RectFromEdges(RightEdge(start) + 5, start.y(), start.x() + outputWidth + 80, BottomEdge(start));
    m_lblProgress->setGeometry(m_rcProgressLine);
    m_lblProgress->hide();

    // 8-9. The thumbnail list: 64 x 64 pictures on white, drawn by the harvest.
    m_lstPhotos->setIconSize(QSize(kThumbnailSize, kThumbnailSize));
    // A double click previews the photo; it never opens a text editor on the row.
    m_lstPhotos->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lstPhotos->hide();

    // The style draws check box frames a shade darker than the window colour,
    // which leaves an unticked box barely visible on the lists' white: give the
    // lists a darker one (their scroll bars keep the usual look).
    for (QAbstractItemView* list : std::initializer_list<QAbstractItemView*>{m_lstPhotos, m_lstFiles}) {
        const QPalette usual = list->palette();
        QPalette darker = usual;
        darker.setColor(QPalette::Window, kCheckFrameShade);
        list->setPalette(darker);
        for (QScrollBar* bar : {list->horizontalScrollBar(), list->verticalScrollBar()})
            bar->setPalette(usual);
    }

    // 10. The selection links appear with the results.
    m_lnkSelectPhotos->hide();
    m_lnkSelectFiles->hide();

    // 11. The other-files list.
    m_lstFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (int column = 0; column < FileResultModel::kColumns; ++column)
        m_lstFiles->setColumnWidth(column, 150);
    m_lstFiles->header()->setSectionsClickable(true);
    m_lstFiles->hide();
}

void MainDialog::OnPhotoActivated(const QString& path)
{
    if (path.isEmpty())
        return;
    // One preview at a time: the next photo replaces the last.
    if (m_preview)
        m_preview->close();
    m_preview = new PhotoPreviewWindow(path, DataFolder(m_platform) + QStringLiteral("icon.png"), this);
    m_preview->showMaximized();
}

void MainDialog::SetDrivePageVisible(bool visible)
{
    const std::initializer_list<QWidget*> group = {m_btnBrowse, m_btnStart, m_btnRefresh, m_lstDrives,
                                                   m_lblSelectDrive, m_lblOutputDir, m_edtOutputDir};
    for (QWidget* control : group)
        control->setVisible(visible);
}

void MainDialog::ShowLoading()
{
    SetDrivePageVisible(false);
    m_lblLoading->show();
}

void MainDialog::ShowDrivePage()
{
    m_lblLoading->hide();
    SetDrivePageVisible(true);
}

void MainDialog::OnTimer(int id)
{
    switch (id) {
    case TIMER_POLL_WORKSPACE: OnRescanTimer(); break;
    case TIMER_HARVEST: OnHarvestTick(); break;
    case TIMER_COPY_OUT: OnCopyTick(); break;
    case TIMER_STARTUP: OnStartupTimer(); break;
    case TIMER_IMAGE_COPY: OnImageCopyTimer(); break;
    default: break;
    }
}

void MainDialog::OnStartupTimer()
{
    m_timers->KillTimer(TIMER_STARTUP);
    RefreshDriveList();
    LoadOutputFolder();
    ShowDrivePage();
}

void MainDialog::closeEvent(QCloseEvent* event)
{
    // The close box, Escape and a desktop close request all end here.
    if (OnClose())
        event->accept();
    else
        event->ignore();
}

void MainDialog::reject()
{
    // Escape must pass through the close path, never end the window past it.
    close();
}

void MainDialog::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        close();
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Enter would end a dialog on its default button: ignored here.
        event->accept();
        return;
    default:
        CBitmapDialog::keyPressEvent(event);
    }
}

void MainDialog::changeEvent(QEvent* event)
{
    CBitmapDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        update();
}

void MainDialog::paintEvent(QPaintEvent* event)
{
    if (!isMinimized()) {
        CBitmapDialog::paintEvent(event);
        return;
    }
    // Minimised: the program icon centred in the window.
    QPainter painter(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_LargeIconSize);
    painter.drawPixmap((width() - iconSize + 1) / 2, (height() - iconSize + 1) / 2,
                       m_hIcon.pixmap(iconSize, iconSize));
}

}  // namespace snapmend
