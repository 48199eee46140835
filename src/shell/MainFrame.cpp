#include "shell/MainFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QScrollArea>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "formkit/BusyCursor.h"
#include "formkit/PollingForm.h"
#include "link/ConnectSequence.h"
#include "link/LinkMonitor.h"
#include "link/LinkState.h"
#include "resources/Resources.h"
#include "run/RunState.h"
#include "shell/CommSettingDlg.h"
#include "shell/FormRegistry.h"
#include "shell/Navigation.h"
#include "shell/TrafficDlg.h"
#include "widgets/ItemBar.h"

namespace {
// The frame's wait between building a form and its initial update.
constexpr int kSwitchSettleMs = 100;
// Small enough for a laptop's half screen; menus, toolbar and the items bar still fit.
constexpr int kMinWidth = 480;
constexpr int kMinHeight = 360;
}  // namespace

CMainFrame::CMainFrame(FormContext ctx, QWidget* parent)
    : QMainWindow(parent), cursorClock_(ctx.clock), ctx_{ctx.run,  ctx.link,  cursorClock_,  ctx.sink,
                                                         ctx.wall, ctx.bench, ctx.reopenPort} {
    setObjectName(QStringLiteral("MainFrame%1").arg(res::IDR_MAINFRAME));
    resize(900, 750);
    setMinimumSize(kMinWidth, kMinHeight);
    setWindowTitle(res::kAppTitle);
    setWindowIcon(res::Icon(129));
    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();

    itemBar_ = new CItemBar(this);
    FillNavigation(itemBar_->OutBar());
    addDockWidget(Qt::LeftDockWidgetArea, itemBar_);
    connect(&itemBar_->OutBar(), &CGfxOutBarCtrl::ItemClicked, this, &CMainFrame::OnNavItemClicked);
    connect(itemBar_, &QDockWidget::visibilityChanged, this, [this] { UpdateCommandUi(); });

    // The empty view until the first item click.
    client_ = new QScrollArea(this);
    client_->setObjectName(QStringLiteral("ClientArea"));
    client_->setWidgetResizable(true);
    client_->setFrameShape(QFrame::NoFrame);
    auto* empty = new QWidget(client_);
    empty->setObjectName(QStringLiteral("EmptyView"));
    client_->setWidget(empty);
    setCentralWidget(client_);
    UpdateCommandUi();
    // The port can close or vanish on any thread and in any form: the frame looks, cheaply.
    connect(&portWatch_, &QTimer::timeout, this, &CMainFrame::SyncPortState);
    portWatch_.start(kPortWatchMs);
}

CMainFrame::~CMainFrame() {
    // The bars outlive our members while QWidget tears the children down; their
    // visibility signals must not reach UpdateCommandUi then.
    if (itemBar_ != nullptr) itemBar_->disconnect(this);
    if (toolBar_ != nullptr) toolBar_->disconnect(this);
    delete takeCentralWidget();
}

void CMainFrame::CreateActions() {
    struct Def {
        int id;
        const char* text;
        const char* icon;
        bool checkable;
    };
    const Def defs[] = {
        {res::ID_CONNECT, "Connect(&C)", "connect", false},
        {res::ID_STOP, "Stop(&S)", "stop", false},
        {res::ID_VIEW_TOOLBAR, "Tool", nullptr, true},
        {res::ID_VIEW_STATUS_BAR, "Status bar(&S)", nullptr, true},
        {res::ID_ITEM_WINDOW, "Item window(&I)", nullptr, true},
        {res::ID_APP_ABOUT, "About KVT40 Software(&A)...", "about", false},
        {res::ID_TRAFFIC, "Communication Traffic", nullptr, false},
    };
    for (const Def& d : defs) {
        auto* a = new QAction(QString::fromUtf8(d.text), this);
        a->setData(d.id);
        if (d.icon != nullptr) a->setIcon(res::Icon(d.icon));
        a->setCheckable(d.checkable);
        if (d.checkable) a->setChecked(true);
        actions_[d.id] = a;
    }
    actions_[res::ID_STOP]->setStatusTip(res::kPromptStop);
    const QStringList itemPrompt = res::kPromptItemWindow.split(QLatin1Char('\n'));
    actions_[res::ID_ITEM_WINDOW]->setStatusTip(itemPrompt.value(0));
    actions_[res::ID_ITEM_WINDOW]->setToolTip(itemPrompt.value(1));
    actions_[res::ID_STOP]->setToolTip(QStringLiteral("Stop"));
    actions_[res::ID_CONNECT]->setToolTip(QStringLiteral("Connect"));
    actions_[res::ID_APP_ABOUT]->setToolTip(QStringLiteral("About"));

    connect(actions_[res::ID_CONNECT], &QAction::triggered, this, &CMainFrame::OnConnect);
    connect(actions_[res::ID_STOP], &QAction::triggered, this, &CMainFrame::OnStop);
    connect(actions_[res::ID_ITEM_WINDOW], &QAction::triggered, this, &CMainFrame::OnItemWindow);
    connect(actions_[res::ID_TRAFFIC], &QAction::triggered, this, [this] { OnTraffic(); });
    connect(actions_[res::ID_APP_ABOUT], &QAction::triggered, this, &CMainFrame::OnAbout);
    connect(actions_[res::ID_VIEW_TOOLBAR], &QAction::toggled, this,
            [this](bool on) { toolBar_->setVisible(on); });
    connect(actions_[res::ID_VIEW_STATUS_BAR], &QAction::toggled, this,
            [this](bool on) { statusBar()->setVisible(on); });
}

void CMainFrame::CreateMenus() {
    QMenu* conn = menuBar()->addMenu(QStringLiteral("Connect"));
    conn->addAction(actions_[res::ID_CONNECT]);
    conn->addAction(actions_[res::ID_STOP]);
    QMenu* view = menuBar()->addMenu(QStringLiteral("View(&V)"));
    view->addAction(actions_[res::ID_VIEW_TOOLBAR]);
    view->addAction(actions_[res::ID_VIEW_STATUS_BAR]);
    view->addAction(actions_[res::ID_ITEM_WINDOW]);
    // The forms the navigation bar has no item for.
    view->addSeparator();
    for (const FormRow& row : FormTable()) {
        if (row.place != FormPlace::ViewMenu) continue;
        const int id = row.viewId;
        const QString text = FormText(row);
        QAction* a = view->addAction(text);
        a->setData(id);
        actions_[id] = a;
        connect(a, &QAction::triggered, this, [this, id, text] { OpenExtraForm(id, text); });
    }
    QMenu* help = menuBar()->addMenu(QStringLiteral("Help(&H)"));
    help->addAction(actions_[res::ID_APP_ABOUT]);
    QMenu* traffic = menuBar()->addMenu(QStringLiteral("Communication Traffic"));
    traffic->addAction(actions_[res::ID_TRAFFIC]);
    for (QMenu* m : {conn, view, help, traffic})
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
}

void CMainFrame::CreateToolBar() {
    toolBar_ = addToolBar(QStringLiteral("Tool"));
    toolBar_->setObjectName(QStringLiteral("ToolBar%1").arg(res::IDR_MAINFRAME));
    toolBar_->setIconSize(QSize(16, 16));
    toolBar_->setMovable(true);
    toolBar_->addAction(actions_[res::ID_STOP]);
    toolBar_->addAction(actions_[res::ID_CONNECT]);
    toolBar_->addSeparator();
    toolBar_->addAction(actions_[res::ID_APP_ABOUT]);
    connect(toolBar_, &QToolBar::visibilityChanged, actions_[res::ID_VIEW_TOOLBAR], &QAction::setChecked);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    // Pane 0 takes the free width: command prompts show over it (the status bar's message),
    // and when the pointer is on no command it shows the notice of a stopped cycle.
    noticePane_ = new QLabel(this);
    noticePane_->setObjectName(QStringLiteral("pane0"));
    bar->addWidget(noticePane_, 1);
    // The link's counts in short; the traffic window has them per address.
    linkPane_ = new QLabel(this);
    linkPane_->setObjectName(QStringLiteral("linkSummary"));
    bar->addPermanentWidget(linkPane_, 0);
    connPane_ = new QLabel(this);
    connPane_->setObjectName(QStringLiteral("pane1"));
    connPane_->setAlignment(Qt::AlignCenter);  // the leading tab asks for a centred pane
    connPane_->setMinimumWidth(120);
    bar->addPermanentWidget(connPane_, 0);
    for (int i = 2; i <= 3; ++i) {
        auto* pane = new QLabel(this);
        pane->setObjectName(QStringLiteral("pane%1").arg(i));
        pane->setMinimumWidth(20);
        bar->addPermanentWidget(pane, 0);
    }
    for (const char* ind : {"CAP", "NUM", "SCRL"}) {
        auto* pane = new QLabel(QString::fromLatin1(ind), this);
        pane->setEnabled(false);
        bar->addPermanentWidget(pane, 0);
    }
    SetStatus(QString::fromUtf8(kNoConnectionStatus));
}

void CMainFrame::SetStatus(const QString& text) {
    status_ = text;
    QString shown = text;
    if (shown.startsWith(QLatin1Char('\t'))) shown.remove(0, 1);
    connPane_->setText(shown);
}

QAction* CMainFrame::Action(int id) const {
    const auto it = actions_.find(id);
    return it != actions_.end() ? it->second : nullptr;
}

void CMainFrame::SyncPortState() {
    // The summary is made again once a second, and only when a frame came: a live view's
    // every tick would otherwise repaint the status bar.
    if (++summaryTicks_ >= kSummaryEveryTicks) {
        summaryTicks_ = 0;
        if (const std::uint64_t seq = ctx_.run.monitor.LastSeq(); seq != summarySeq_) {
            summarySeq_ = seq;
            linkPane_->setText(QString::fromStdString(StatisticsSummary(ctx_.run.monitor.Statistics())));
        }
    }
    const LinkState& link = ctx_.link;
    const bool open = link.port != nullptr && link.port->IsOpen();
    const std::string lost = link.port != nullptr ? link.port->LostReason() : std::string();
    if (open == shownOpen_ && lost == shownLost_) return;
    const bool wasOpen = shownOpen_;
    shownOpen_ = open;
    shownLost_ = lost;
    UpdateCommandUi();
    if (open) return;
    if (!lost.empty())
        SetStatus(QStringLiteral("Port lost: ") + QString::fromStdString(lost));
    else if (wasOpen)
        SetStatus(QString::fromUtf8(kNoConnectionStatus));
}

void CMainFrame::UpdateCommandUi() {
    const LinkState& link = ctx_.link;
    const bool open = link.port != nullptr && link.port->IsOpen();
    actions_[res::ID_CONNECT]->setEnabled(!open);
    actions_[res::ID_STOP]->setEnabled(open);
    actions_[res::ID_ITEM_WINDOW]->setEnabled(itemBar_ != nullptr && itemBar_->widget() != nullptr);
    if (itemBar_ != nullptr) actions_[res::ID_ITEM_WINDOW]->setChecked(itemBar_->isVisible() || !isVisible());
}

void CMainFrame::OnConnect() {
    std::unique_ptr<CCommSettingDlg> dlg(
        factory_ ? factory_(this)
                 : new CCommSettingDlg(ctx_.link, ctx_.sink, ctx_.clock, ctx_.run.port, this));
    dlg->PreselectPort(lastPort_);
    const bool ok = runner_ ? runner_(*dlg) : dlg->exec() == QDialog::Accepted;
    if (const auto status = dlg->Finish(ok)) SetStatus(QString::fromStdString(*status));
    if (ok) lastPort_ = dlg->Settings().port;
    UpdateCommandUi();
}

void CMainFrame::ShowLinkStatus() {
    const LinkState& link = ctx_.link;
    if (link.port == nullptr || !link.port->IsOpen()) return;
    SetStatus(QString::fromStdString(
        ConnectedStatusText(link.deviceAddress, LinkDescriptionText(link.portName, link.baudIndex))));
}

void CMainFrame::OnStop() {
    if (const auto status = StopLink(ctx_.link)) SetStatus(QString::fromStdString(*status));
    UpdateCommandUi();
}

void CMainFrame::OnItemWindow() {
    itemBar_->setVisible(!itemBar_->isVisible());
    actions_[res::ID_ITEM_WINDOW]->setChecked(itemBar_->isVisible());
}

CTrafficDlg* CMainFrame::OnTraffic() {
    // The window sizes itself so that a frame's line fits; it is not shrunk to its hint.
    auto* dlg = new CTrafficDlg(ctx_.run.updateLog, ctx_.run.monitor, ctx_.sink, this);
    dlg->move(geometry().center() - dlg->rect().center());
    dlg->show();
    return dlg;
}

QDialog* CMainFrame::CreateAboutBox() {
    auto* box = new QDialog(this);
    box->setObjectName(QStringLiteral("dialog%1").arg(res::IDD_ABOUTBOX));
    box->setWindowTitle(res::kAboutTitle);
    auto* icon = new QLabel(box);
    icon->setPixmap(res::Icon(129).pixmap(32, 32));
    auto* text = new QLabel(res::kAboutText, box);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, box);
    connect(buttons, &QDialogButtonBox::accepted, box, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(text, 1);
    auto* top = new QVBoxLayout(box);
    top->addLayout(row);
    top->addWidget(buttons);
    return box;
}

void CMainFrame::OnAbout() {
    std::unique_ptr<QDialog> box(CreateAboutBox());
    box->exec();
}

void CMainFrame::OnNavItemClicked(int folder, int item) {
    CGfxOutBarCtrl& bar = itemBar_->OutBar();
    const QString text = bar.GetItemText(item);
    const int selected = bar.GetSelFolder();
    (void)folder;  // the frame asks the bar for its selected folder, as the click did select it
    const auto id = FormIdOf(selected, item);
    // Asked before the title changes: a form that stays keeps its title.
    if (id && !MayLeaveForm()) return;
    setWindowTitle(res::kTitlePrefix + QStringLiteral(" - ") + text);
    if (id) PutForm(*id);
}

void CMainFrame::OpenExtraForm(int formId, const QString& text) {
    if (!MayLeaveForm()) return;
    setWindowTitle(res::kTitlePrefix + QStringLiteral(" - ") + text);
    PutForm(formId);
}

bool CMainFrame::OpenForm(int formId) {
    CGfxOutBarCtrl& bar = itemBar_->OutBar();
    for (int f = 0; f < bar.GetFolderCount(); ++f)
        for (int i = 0; i < bar.GetItemCount(f); ++i)
            if (FormIdOf(f, i) == formId) {
                bar.ClickItem(f, i);
                return true;
            }
    if (QAction* a = Action(formId)) {
        a->trigger();
        return true;
    }
    return false;
}

QString CMainFrame::NoticeText() const {
    return noticePane_->text();
}

void CMainFrame::ShowNotice(const QString& text) {
    noticePane_->setText(text);
}

QWidget* CMainFrame::Form() const {
    return client_ != nullptr ? client_->widget() : nullptr;
}

bool CMainFrame::MayLeaveForm() {
    auto* form = qobject_cast<CFormView*>(Form());
    return form == nullptr || form->MayLeave();
}

bool CMainFrame::SwitchToForm(int formId) {
    if (FindForm(formId) == nullptr || !MayLeaveForm()) return false;
    PutForm(formId);
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* e) {
    if (!MayLeaveForm()) {
        e->ignore();
        return;
    }
    {
        // The form goes while the window is still up: a worker it waits for ends first.
        BusyCursor busy;
        delete client_->takeWidget();
    }
    QMainWindow::closeEvent(e);
}

void CMainFrame::PutForm(int formId) {
    const FormRow* row = FindForm(formId);
    if (row == nullptr) return;
    // Its waits show the cursor by the clock; destroying the old form may wait for a worker.
    BusyCursor busy;
    CFormView* form = MakeForm(*row, ctx_, this);
    ctx_.clock.sleep(kSwitchSettleMs);
    ShowNotice({});
    connect(form, &CFormView::LinkSettingsChanged, this, &CMainFrame::ShowLinkStatus);
    if (auto* polling = qobject_cast<CPollingForm*>(form)) {
        connect(polling, &CPollingForm::PollingStopped, this, &CMainFrame::ShowNotice);
        connect(polling, &CPollingForm::PollingStopped, this, &CMainFrame::SyncPortState);
        connect(polling, &CPollingForm::PollingResumed, this, [this] { ShowNotice({}); });
    }
    // The old form goes before the new one's first request: its timer, or a worker it
    // waits for, must never share the link with the new form.
    delete client_->takeWidget();
    form->OnInitialUpdate();
    client_->setWidget(form);
    formId_ = formId;
}
