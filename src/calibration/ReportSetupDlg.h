#pragma once
// "测试报告" (template 167): the report's serial number, model, English flag, rated values,
// test values and tester. The lists are plain drop-down lists, so every choice is an entry.

#include <QDialog>

#include "calibration/ReportWriter.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

class CReportSetupDlg : public QDialog {
    Q_OBJECT
public:
    CReportSetupDlg(const ReportSettings& settings, int testVoltage, int testCurrent,
                    QWidget* parent = nullptr);

    // The settings as the controls hold them (the path is kept as it came).
    ReportSettings Settings() const;
    int TestVoltage() const;
    int TestCurrent() const;

    QLineEdit* SerialEdit() const { return serial_; }
    QLineEdit* ModelEdit() const { return model_; }
    QCheckBox* EnglishCheck() const { return english_; }
    QComboBox* RatedVoltageList() const { return ratedVoltage_; }
    QComboBox* RatedCurrentList() const { return ratedCurrent_; }
    QComboBox* TestVoltageList() const { return testVoltage_; }
    QComboBox* TestCurrentList() const { return testCurrent_; }
    QComboBox* TesterList() const { return tester_; }
    QComboBox* DiList() const { return di_; }
    QComboBox* AnalogList() const { return analog_; }

private:
    ReportSettings settings_;
    QLineEdit* serial_;
    QLineEdit* model_;
    QCheckBox* english_;
    QComboBox* ratedVoltage_;
    QComboBox* ratedCurrent_;
    QComboBox* testVoltage_;
    QComboBox* testCurrent_;
    QComboBox* tester_;
    QComboBox* di_;
    QComboBox* analog_;
};
