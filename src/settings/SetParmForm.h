#pragma once
// View 149, "Device setting": the module's address and baud rate in the group "System
// info" with "Read" and "Set". The address cell takes digits, the baud cells are
// drop-down lists; AddressBaudSettings checks, writes and reads back.

#include <QGroupBox>
#include <QPushButton>

#include "formkit/FormContext.h"
#include "formkit/FormView.h"
#include "settings/AddressBaudSettings.h"

class CGridCtrl;

class CSetParmForm : public CFormView {
    Q_OBJECT
public:
    static constexpr int kFormId = 149;

    explicit CSetParmForm(FormContext& ctx, QWidget* parent = nullptr);

    // Grid set-up, then the first read.
    void OnInitialUpdate() override;
    void OnRead();
    void OnSet();

    CGridCtrl& Grid() const { return *grid_; }
    QGroupBox* Group() const { return group_; }
    QPushButton* ReadButton() const { return read_; }
    QPushButton* SetButton() const { return set_; }
    AddressBaudSettings& Parameters() { return params_; }
    // How the link's port is opened again at a new rate after a baud change (the serial
    // port at the link's port name by default; tests hand in their own).
    void SetPortReopener(AddressBaudSettings::PortReopener reopen) { reopen_ = std::move(reopen); }

private:
    void Paint();

    FormContext& ctx_;
    AddressBaudSettings params_;
    QGroupBox* group_;
    CGridCtrl* grid_;
    QPushButton* read_;
    QPushButton* set_;
    AddressBaudSettings::PortReopener reopen_;
};
