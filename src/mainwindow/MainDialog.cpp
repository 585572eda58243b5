#include "MainDialog.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
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
#include "ControlIds.h"
#include "DialogTemplate.h"
#include "DialogUnits.h"
#include "PhotoPreviewWindow.h"
#include "PlatformServices.h"
#include "ResultViews.h"
#include "RectEdges.h"
#include "Resources.h"
#include "TimerIds.h"
#include "TimerService.h"
#include "UiServices.h"

namespace snapmend {
namespace {

constexpr int kStartupDelayMs = 100;
constexpr int kNoAdministratorExitCode = 18;
constexpr int kThumbnailSize = 64;
// Gaps between the controls the window places itself, in pixels.
constexpr int kGap = 6;

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
    case ControlKind::ComboBox:
        return new QComboBox(parent);
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
        QTreeView* tree = control.id == IDC_FILE_LIST ? static_cast<QTreeView*>(new FileListView(parent))
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
    m_scan = new ScanRun(this);
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
    DDX_Control(IDC_SELECT_PHOTOS, m_lnkSelectPhotos);
    DDX_Control(IDC_SELECT_FILES, m_lnkSelectFiles);
    DDX_Control(IDC_FILE_LIST, m_lstFiles);
    DDX_Control(IDC_LOADING, m_lblLoading);
    DDX_Control(IDC_SETTINGS, m_lnkSettings);
    DDX_Control(IDC_HELP, m_lnkHelp);
    DDX_Control(IDC_STATUS, m_lblStatus);
    DDX_Control(IDC_PROGRESS_TEXT, m_lblProgress);
    DDX_Control(IDC_PROGRESS, m_progress);
    DDX_Control(IDC_PHOTO_LIST, m_lstPhotos);
    DDX_Control(IDC_OUTPUT_DIR, m_edtOutputDir);
    DDX_Control(IDC_OUTPUT_DIR_LABEL, m_lblOutputDir);
    DDX_Control(IDC_SELECT_DRIVE_LABEL, m_lblSelectDrive);
    DDX_Control(IDC_START, m_btnStart);
    DDX_Control(IDC_REFRESH, m_btnRefresh);
    DDX_Control(IDC_BROWSE, m_btnBrowse);
    DDX_Control(IDC_RECOVER, m_btnRecover);
    DDX_Control(IDC_DRIVE_LIST, m_lstDrives);
    DDX_Control(IDC_BACK_TO_DRIVES, m_btnBackToDrives);
    DDX_Control(IDC_BACK_TO_RESULTS, m_btnBackToResults);
    DDX_Control(IDC_FILTER, m_edtFilter);
    DDX_Control(IDC_SORT, m_cmbSort);
    DDX_Control(IDC_COUNTS, m_lblCounts);
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
    connect(m_lstFiles, &FileListView::fileActivated, this, &MainDialog::OnFileActivated);
    connect(m_btnBackToDrives, &QPushButton::clicked, this, &MainDialog::OnBackToDrives);
    connect(m_edtFilter, &QLineEdit::textChanged, this, &MainDialog::OnFilterChanged);
    connect(m_cmbSort, &QComboBox::currentIndexChanged, this, &MainDialog::OnOrderChanged);
    for (const QAbstractItemModel* model : std::initializer_list<const QAbstractItemModel*>{
             &m_lstPhotos->Model(), &m_lstFiles->Model(), &m_lstPhotos->Filter(), &m_lstFiles->Filter()}) {
        connect(model, &QAbstractItemModel::rowsInserted, this, &MainDialog::UpdateCounts);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &MainDialog::UpdateCounts);
        connect(model, &QAbstractItemModel::modelReset, this, &MainDialog::UpdateCounts);
    }
    connect(m_btnBackToResults, &QPushButton::clicked, this, &MainDialog::OnBackToResults);
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
    QString refusal;
    if (!IsAdministrator(m_platform, refusal)) {
        m_platform.ui->MessageBox(this, refusal, kMessageCaption, MB_OK);
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
    for (CStyledButton* button : {m_btnBrowse, m_btnStart, m_btnRefresh, m_btnBackToDrives, m_btnBackToResults})
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

    // 2. The status line above the result views.
    const QRect selectDrive = m_lblSelectDrive->geometry();
    m_lblStatus->SetTransparent(true).SetFontName(kUiFont, 0).SetFontSize(12).SetFontBold(true)
        .SetFontItalic(true).SetTextColor(kStatusPink);
    m_lblStatus->setGeometry(selectDrive.x(), 5, m_lblStatus->width(), selectDrive.height() + 5);

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

    // 6. The progress bar under the Start button's row.
    const QRect start = m_btnStart->geometry();
    const int outputWidth = m_edtOutputDir->width();
    const int progressHeight = m_progress->height();
    const int progressTop = BottomEdge(start) + 15 - progressHeight;
    m_progress->setGeometry(start.x(), progressTop, outputWidth, progressHeight);

    // 7. The progress text: above the bar outside a scan, right of Cancel during one.
    m_lblProgress->SetTransparent(true).SetFontName(kUiFont, 0).SetFontSize(9).SetTextColor(kWhite);
    m_rcProgressLine = RectFromEdges(start.x(), progressTop - 25, start.x() + outputWidth, progressTop - 5);
    m_rcTipLine = RectFromEdges(RightEdge(start) + 5, start.y(), start.x() + outputWidth + 80, BottomEdge(start));
    m_lblProgress->setGeometry(m_rcProgressLine);

    // 8-9. The thumbnail list: 64 x 64 pictures on white, drawn by the harvest.
    m_lstPhotos->setIconSize(QSize(kThumbnailSize, kThumbnailSize));
    // A double click previews the photo; it never opens a text editor on the row.
    m_lstPhotos->setEditTriggers(QAbstractItemView::NoEditTriggers);

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

    // 11. The other-files list.
    m_lstFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (int column = 0; column < FileResultModel::kColumns; ++column)
        m_lstFiles->setColumnWidth(column, 150);
    m_lstFiles->header()->setSectionsClickable(true);

    m_lblCounts->SetTransparent(true).SetFontName(kUiFont, 0).SetFontSize(9).SetTextColor(kWhite);
    m_edtFilter->setPlaceholderText(QStringLiteral("Filter by name or extension"));
    m_edtFilter->setClearButtonEnabled(true);
    m_cmbSort->addItems({QStringLiteral("Order found"), QStringLiteral("Name"), QStringLiteral("Size, largest first"),
                         QStringLiteral("Date, newest first")});
    PlaceViews();
    // Every view's control stays hidden until its view is entered.
    for (int id : ControlsOfViews())
        Control(id)->hide();
}

void MainDialog::PlaceViews()
{
    const QRect drives = m_lstDrives->geometry();
    const QRect start = m_btnStart->geometry();
    const QRect status = m_lblStatus->geometry();
    const QSize link = m_lnkSelectPhotos->size();
    const int editHeight = m_edtOutputDir->height();

    // Under the status line: the filter, the order and the counts.
    const int toolsTop = BottomEdge(status) + 3;
    m_edtFilter->setGeometry(drives.x(), toolsTop, 210, editHeight);
    m_cmbSort->setGeometry(RightEdge(m_edtFilter->geometry()) + kGap, toolsTop, 150, editHeight);
    const int countsLeft = RightEdge(m_cmbSort->geometry()) + kGap;
    m_lblCounts->setGeometry(countsLeft, toolsTop + 2, m_lnkSettings->x() - kGap - countsLeft, link.height() + 2);

    // The two lists, the photos taking most of the height; the output folder's caption below them.
    const int labelHeight = m_lblOutputDir->height();
    const int listsBottom = start.y() - kGap - labelHeight - 4;
    m_lnkSelectPhotos->setGeometry(drives.x(), toolsTop + editHeight + 3, link.width(), link.height());
    const int photosTop = BottomEdge(m_lnkSelectPhotos->geometry()) + 2;
    const int filesSpace = link.height() + 8;
    const int photosHeight = static_cast<int>((listsBottom - photosTop - filesSpace) * 0.68);
    m_lstPhotos->setGeometry(drives.x(), photosTop, drives.width(), photosHeight);
    const QRect photos = m_lstPhotos->geometry();
    m_lnkSelectFiles->setGeometry(photos.x(), BottomEdge(photos) + 5, link.width(), link.height());
    const int filesTop = BottomEdge(photos) + filesSpace;
    m_lstFiles->setGeometry(photos.x(), filesTop, photos.width(), listsBottom - filesTop);

    // The bottom row: Start or Recover, then Back or Results, on the results page the output folder.
    const QRect second(RightEdge(start) + kGap, start.y(), start.width(), start.height());
    m_btnBackToDrives->setGeometry(second);
    m_btnBackToResults->setGeometry(second);
    const QRect browseOnResults(RightEdge(drives) - start.width(), start.y(), start.width(), start.height());
    const int outputLeft = RightEdge(second) + 2 * kGap;
    const QRect outputOnResults(outputLeft, start.y() + (start.height() - editHeight) / 2,
                                browseOnResults.x() - kGap - outputLeft, editHeight);

    // The progress text stands right of Cancel while a scan runs, above the progress bar otherwise.
    m_placements[WindowView::DrivePage] = {{IDC_BROWSE, m_btnBrowse->geometry()},
                                           {IDC_OUTPUT_DIR, m_edtOutputDir->geometry()},
                                           {IDC_OUTPUT_DIR_LABEL, m_lblOutputDir->geometry()},
                                           {IDC_PROGRESS_TEXT, m_rcProgressLine}};
    // The results page's status line reaches the lists' right edge: it may also tell what could not be read.
    const QRect wideStatus(status.x(), status.y(), RightEdge(drives) - status.x(), status.height());
    m_placements[WindowView::Results] = {
        {IDC_STATUS, wideStatus},
        {IDC_PROGRESS_TEXT, m_rcProgressLine},
        {IDC_BROWSE, browseOnResults},
        {IDC_OUTPUT_DIR, outputOnResults},
        {IDC_OUTPUT_DIR_LABEL, QRect(outputLeft, BottomEdge(m_lstFiles->geometry()) + 4,
                                     outputOnResults.width(), labelHeight)}};
    m_placements[WindowView::Scanning] = {{IDC_PROGRESS_TEXT, m_rcTipLine}, {IDC_STATUS, status}};
    m_placements[WindowView::Copying] = {{IDC_PROGRESS_TEXT, m_rcProgressLine}, {IDC_STATUS, status}};
}

void MainDialog::OnFilterChanged(const QString& text)
{
    m_lstPhotos->Filter().SetFilterText(text);
    m_lstFiles->Filter().SetFilterText(text);
    UpdateCounts();
}

void MainDialog::OnOrderChanged(int choice)
{
    static const ResultOrder kOrders[] = {ResultOrder::Found, ResultOrder::Name, ResultOrder::Size,
                                          ResultOrder::Date};
    const ResultOrder order = choice >= 0 && choice < 4 ? kOrders[choice] : ResultOrder::Found;
    m_lstPhotos->Filter().SetOrder(order);
    m_lstFiles->Filter().SetOrder(order);
    if (order != ResultOrder::Found)
        m_lstFiles->header()->setSortIndicatorShown(false);
}

void MainDialog::UpdateCounts()
{
    const PhotoResultModel& photos = m_lstPhotos->Model();
    const FileResultModel& files = m_lstFiles->Model();
    const auto counted = [](int n, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    QString text = counted(photos.Count(), "photo", "photos") + ", " +
                   counted(files.Count(), "other file", "other files");
    if (const int partial = photos.PartialCount() + files.PartialCount())
        text += QStringLiteral(", %1 partial").arg(partial);
    if (const int recovered = photos.RecoveredCount() + files.RecoveredCount())
        text += QStringLiteral(", %1 recovered").arg(recovered);
    const int shown = m_lstPhotos->Filter().rowCount() + m_lstFiles->Filter().rowCount();
    if (shown != ResultCount())
        text += QStringLiteral(" (%1 shown)").arg(shown);
    m_lblCounts->SetText(text);
}

void MainDialog::SetView(WindowView view)
{
    m_view = view;
    for (const auto& [id, rect] : m_placements[view])
        Control(id)->setGeometry(rect);
    const std::vector<int> shown = ControlsShownIn(view, m_resultsKept);
    const auto isShown = [&shown](int id) { return std::find(shown.begin(), shown.end(), id) != shown.end(); };
    // Hidden first, so that focus never passes through a control about to go.
    for (int id : ControlsOfViews())
        if (!isShown(id))
            Control(id)->hide();
    for (int id : shown)
        Control(id)->show();
    if (view == WindowView::Scanning)
        m_btnRecover->setText(QStringLiteral("Cancel"));
    else if (view == WindowView::Results)
        m_btnRecover->setText(QStringLiteral("Recover"));
}

void MainDialog::ShowNotices(const Notices& notices)
{
    for (const Notice& notice : notices)
        m_platform.ui->MessageBox(this, notice.text, notice.caption, notice.flags);
}

namespace {

// The paths of a result list in the order its view shows them (filtered, ordered).
std::vector<PhotoPreviewWindow::Item> ShownItems(const QAbstractItemModel& view, bool photos, const QString& path,
                                                 int& current)
{
    std::vector<PhotoPreviewWindow::Item> items;
    current = 0;
    for (int row = 0; row < view.rowCount(); ++row) {
        const QString shown = view.index(row, 0).data(kPathRole).toString();
        if (shown == path)
            current = row;
        items.push_back({shown, photos});
    }
    if (items.empty())
        items.push_back({path, photos});
    return items;
}

}  // namespace

void MainDialog::OnPhotoActivated(const QString& path) { OpenPreview(path, true); }

void MainDialog::OnFileActivated(const QString& path) { OpenPreview(path, false); }

void MainDialog::OpenPreview(const QString& path, bool photo)
{
    if (path.isEmpty())
        return;
    // One preview at a time: the next one replaces the last.
    if (m_preview)
        m_preview->close();
    const QAbstractItemModel& view = photo ? static_cast<const QAbstractItemModel&>(m_lstPhotos->Filter())
                                           : static_cast<const QAbstractItemModel&>(m_lstFiles->Filter());
    int current = 0;
    std::vector<PhotoPreviewWindow::Item> items = ShownItems(view, photo, path, current);
    if (items[static_cast<size_t>(current)].path != path)
        items = {{path, photo}};  // not among the rows shown
    m_preview = new PhotoPreviewWindow(std::move(items), current, DataFolder(m_platform) + QStringLiteral("icon.png"),
                                       this);
    m_preview->show();
}

void MainDialog::ShowLoading() { SetView(WindowView::Loading); }

void MainDialog::ShowDrivePage() { SetView(WindowView::DrivePage); }

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
