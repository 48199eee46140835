#pragma once
// "Communication Setting" (template 137): device address, port and baud rate (data bits,
// parity and stop bits are kept as hidden rows). Connect runs the opening and probe loops
// of ConnectSequence; the dialog closes with OK only once the module answered.

#include <QDialog>
#include <memory>
#include <optional>
#include <string>

#include "link/ConnectSequence.h"

class CSerialPort;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CCommSettingDlg : public QDialog {
    Q_OBJECT
public:
    // The real serial port; "Virtual module" starts the built-in module first.
    CCommSettingDlg(LinkState& link, MessageSink& sink, Clock& clock, CSerialPort& serial,
                    QWidget* parent = nullptr);
    // Any port and opener (tests).
    CCommSettingDlg(LinkState& link, MessageSink& sink, Clock& clock, CCommPort& port, PortOpener open,
                    QWidget* parent = nullptr);
    ~CCommSettingDlg() override;

    // Selects the port of the link in use (added to the list when the list lacks it, as a
    // typed path or a kvt40-sim link may be); nothing for an empty name.
    void PreselectPort(const std::string& name);
    // The values as the controls hold them now (an address the box cannot give is 0).
    CommSettings Settings() const;
    // The Connect button: true when the module answered (the dialog is then accepted).
    // An address outside 1..247 is refused with a message before the port is touched.
    bool OnConnectButton();
    // After the dialog: stores the values on OK; the new status text, if any.
    std::optional<std::string> Finish(bool ok);
    std::string LinkDescription() const { return seq_->LinkDescription(); }

    QLineEdit* AddressEdit() const { return address_; }
    QComboBox* PortList() const { return port_; }
    QComboBox* BaudList() const { return baud_; }
    QComboBox* DataBitsList() const { return dataBits_; }
    QComboBox* ParityList() const { return parity_; }
    QComboBox* StopBitsList() const { return stopBits_; }

private:
    void Build();

    LinkState& link_;
    MessageSink& sink_;
    std::unique_ptr<ConnectSequence> seq_;
    QLineEdit* address_ = nullptr;
    QComboBox* port_ = nullptr;
    QComboBox* baud_ = nullptr;
    QComboBox* dataBits_ = nullptr;
    QComboBox* parity_ = nullptr;
    QComboBox* stopBits_ = nullptr;
};
