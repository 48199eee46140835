#include "shell/CommSettingDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "link/LinkState.h"
#include "link/PortList.h"
#include "link/SerialPort.h"
#include "resources/Resources.h"
#include "sim/VirtualModuleHost.h"

CCommSettingDlg::CCommSettingDlg(LinkState& link, MessageSink& sink, Clock& clock, CSerialPort& serial,
                                 QWidget* parent)
    : CCommSettingDlg(link, sink, clock, serial, PortOpener{}, parent) {
    // The built-in module is created at the address the user connects to.
    seq_ = std::make_unique<ConnectSequence>(
        link, serial,
        [this, &serial](const std::string& name, int baud, int dataBits, int parity, int stopBits) {
            return OpenLinkPort(serial, name, baud, dataBits, parity, stopBits, Settings().deviceAddress);
        },
        sink, clock);
    seq_->SetPortResolver(
        [&serial](const std::string& name) -> CCommPort& { return LinkPortFor(serial, name); });
}

CCommSettingDlg::CCommSettingDlg(LinkState& link, MessageSink& sink, Clock& clock, CCommPort& port,
                                 PortOpener open, QWidget* parent)
    : QDialog(parent),
      link_(link),
      sink_(sink),
      seq_(std::make_unique<ConnectSequence>(link, port, std::move(open), sink, clock)) {
    Build();
}

CCommSettingDlg::~CCommSettingDlg() = default;

namespace {
QComboBox* MakeList(QWidget* parent, int id, const auto& texts) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QStringLiteral("list%1").arg(id));
    for (const char* t : texts) box->addItem(QString::fromUtf8(t));
    return box;
}
}  // namespace

void CCommSettingDlg::Build() {
    setWindowTitle(QStringLiteral("Communication Setting"));
    setObjectName(QStringLiteral("dialog%1").arg(res::IDD_COMM_SETTING));
    auto* grid = new QGridLayout;
    const LinkState& link = link_;

    address_ = new QLineEdit(this);
    address_->setObjectName(QStringLiteral("edit%1").arg(res::IDC_ADDRESS));
    address_->setText(QString::number(link.deviceAddress));

    port_ = new QComboBox(this);
    port_->setObjectName(QStringLiteral("list%1").arg(res::IDC_PORT));
    std::vector<std::string> ports = ListPorts();
    if (std::find(ports.begin(), ports.end(), kVirtualModuleName) == ports.end())
        ports.emplace_back(kVirtualModuleName);
    for (const auto& p : ports) port_->addItem(QString::fromStdString(p));
    // Any path can be typed (a kvt40-sim link, /dev/serial/by-id/...).
    port_->setEditable(true);
    port_->setInsertPolicy(QComboBox::NoInsert);
    port_->setCurrentIndex(port_->count() > 0 ? 0 : -1);

    baud_ = MakeList(this, res::IDC_BAUD, kBaudTexts);
    baud_->setCurrentIndex(link.baudIndex);
    dataBits_ = MakeList(this, res::IDC_DATABITS, kDataBitsTexts);
    dataBits_->setCurrentIndex(link.dataBits - 4);
    parity_ = MakeList(this, res::IDC_PARITY, kParityTexts);
    parity_->setCurrentIndex(link.parityIndex);
    stopBits_ = MakeList(this, res::IDC_STOPBITS, kStopBitsTexts);
    stopBits_->setCurrentIndex(link.stopBitsIndex);

    struct Row {
        const char* label;
        QWidget* field;
        bool shown;
    };
    const Row rows[] = {{"Device address", address_, true}, {"Serial port", port_, true},
                        {"Baudrate", baud_, true},          {"Databits", dataBits_, false},
                        {"Parity", parity_, false},         {"Stopbits", stopBits_, false}};
    int r = 0;
    for (const Row& row : rows) {
        auto* label = new QLabel(QString::fromUtf8(row.label), this);
        grid->addWidget(label, r, 0);
        grid->addWidget(row.field, r, 1);
        // The line is always 8N1: these rows exist but nothing shows them.
        label->setVisible(row.shown);
        label->setEnabled(row.shown);
        row.field->setVisible(row.shown);
        row.field->setEnabled(row.shown);
        ++r;
    }
    port_->setMinimumWidth(160);

    auto* connectBtn = new QPushButton(QStringLiteral("Connect"), this);
    connectBtn->setObjectName(QStringLiteral("button%1").arg(res::IDOK));
    connectBtn->setDefault(true);
    auto* cancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    cancelBtn->setObjectName(QStringLiteral("button%1").arg(res::IDCANCEL));
    connect(connectBtn, &QPushButton::clicked, this, [this] { OnConnectButton(); });
    connect(cancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(connectBtn);
    buttons->addWidget(cancelBtn);
    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);
}

void CCommSettingDlg::PreselectPort(const std::string& name) {
    const QString port = QString::fromStdString(name);
    if (port.isEmpty()) return;
    if (port_->findText(port) < 0) port_->insertItem(0, port);
    port_->setCurrentIndex(port_->findText(port));
}

CommSettings CCommSettingDlg::Settings() const {
    CommSettings s;
    s.deviceAddress = ParseDeviceAddress(address_->text().toStdString()).value_or(0);
    s.port = port_->currentText().trimmed().toStdString();
    s.baudIndex = baud_->currentIndex();
    s.dataBits = dataBits_->currentIndex() + 4;
    s.parityIndex = parity_->currentIndex();
    s.stopBitsIndex = stopBits_->currentIndex();
    return s;
}

bool CCommSettingDlg::OnConnectButton() {
    if (!ParseDeviceAddress(address_->text().toStdString())) {
        sink_.Show(kBadAddressText, "Error", MsgIcon::Exclamation, MsgButtons::Ok);
        address_->setFocus();
        return false;
    }
    if (!seq_->RunConnectButton(Settings())) return false;
    accept();
    return true;
}

std::optional<std::string> CCommSettingDlg::Finish(bool ok) {
    return seq_->FinishDialog(ok, Settings());
}
