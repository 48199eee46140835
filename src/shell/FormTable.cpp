#include <QCoreApplication>

#include "calibration/RMSAdjustForm.h"
#include "monitor/AlarmForm.h"
#include "monitor/DMDForm.h"
#include "monitor/HarmonicForm.h"
#include "monitor/MeasuresForm.h"
#include "monitor/StatusForm.h"
#include "monitor/TimeEForm.h"
#include "resources/Resources.h"
#include "settings/SetAlarmForm.h"
#include "settings/SetDeviceForm.h"
#include "settings/SetParmForm.h"
#include "shell/FormRegistry.h"
#include "shell/PlaceholderForm.h"
#include "update/UpdateForm.h"

namespace {

template <typename Form>
CFormView* Make(FormContext& ctx, QWidget* parent) {
    return new Form(ctx, parent);
}

using P = FormPlace;

constexpr FormRow kForms[] = {
    {res::IDD_MEASURES, "Single-phase", P::RealTimeData, 0, false, &Make<CMeasuresForm>},
    {res::IDD_TIME_E, "Three-phase circuit", P::RealTimeData, 1, false, &Make<CTimeEForm>},
    {res::IDD_ALARM, "Alarm", P::RealTimeData, 2, false, &Make<CAlarmForm>},
    {res::IDD_SET_PARM, "Device setting", P::Setting, 5, false, &Make<CSetParmForm>},
    {res::IDD_SET_ALARM, "Alarm setting", P::Setting, 6, false, &Make<CSetAlarmForm>},
    {res::IDD_SET_DEVICE, "设备设置", P::Setting, 7, true, &Make<CSetDeviceForm>},
    {res::IDD_RMS_ADJUST, "仪表校准", P::Setting, 8, true, &Make<CRMSAdjustForm>},
    {res::IDD_UPDATE, "在线升级", P::Setting, 8, true, &Make<CUpdateForm>},
    {res::IDD_DMD, "Demand", P::ViewMenu, 0, false, &Make<CDMDForm>},
    {res::IDD_HARMONIC, "Harmonics", P::ViewMenu, 0, false, &Make<CHarmonicForm>},
    {res::IDD_STATUS, "Digital input and relay status", P::ViewMenu, 0, false, &Make<CStatusForm>},
};

}  // namespace

std::span<const FormRow> FormTable() { return kForms; }

const FormRow* FindForm(int viewId) {
    for (const FormRow& row : kForms)
        if (row.viewId == viewId) return &row;
    return nullptr;
}

QString FormText(const FormRow& row) { return QString::fromUtf8(row.text); }

CFormView* MakeForm(const FormRow& row, FormContext& ctx, QWidget* parent) {
    if (row.make != nullptr) return row.make(ctx, parent);
    return new CPlaceholderForm(row.viewId, FormText(row), parent);
}
