#include <QCoreApplication>
#include <cstddef>
#include <iterator>

#include "calibration/RMSAdjustForm.h"
#include "monitor/AlarmForm.h"
#include "monitor/DMDForm.h"
#include "monitor/HarmonicForm.h"
#include "monitor/MeasuresForm.h"
#include "monitor/StatusForm.h"
#include "monitor/TimeEForm.h"
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

// A form's id is its class's kFormId: the row cannot name one form and build another.
template <typename Form>
constexpr FormRow Row(const char* text, FormPlace place, int image, bool internal) {
    return {Form::kFormId, text, place, image, internal, &Make<Form>};
}

using P = FormPlace;

constexpr FormRow kForms[] = {
    Row<CMeasuresForm>("Single-phase", P::RealTimeData, 0, false),
    Row<CTimeEForm>("Three-phase circuit", P::RealTimeData, 1, false),
    Row<CAlarmForm>("Alarm", P::RealTimeData, 2, false),
    Row<CSetParmForm>("Device setting", P::Setting, 5, false),
    Row<CSetAlarmForm>("Alarm setting", P::Setting, 6, false),
    Row<CSetDeviceForm>("设备设置", P::Setting, 7, true),
    Row<CRMSAdjustForm>("仪表校准", P::Setting, 8, true),
    Row<CUpdateForm>("在线升级", P::Setting, 8, true),
    Row<CDMDForm>("Demand", P::ViewMenu, 0, false),
    Row<CHarmonicForm>("Harmonics", P::ViewMenu, 0, false),
    Row<CStatusForm>("Digital input and relay status", P::ViewMenu, 0, false),
};

constexpr bool SameText(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

// Two rows with one id would make the second unreachable; two with one text, two items
// the user cannot tell apart.
constexpr bool RowsDistinct() {
    for (std::size_t i = 0; i < std::size(kForms); ++i)
        for (std::size_t j = i + 1; j < std::size(kForms); ++j)
            if (kForms[i].viewId == kForms[j].viewId || SameText(kForms[i].text, kForms[j].text))
                return false;
    return true;
}
static_assert(RowsDistinct(), "every form row needs its own view id and its own text");

}  // namespace

std::span<const FormRow> FormTable() {
    return kForms;
}

const FormRow* FindForm(int viewId) {
    for (const FormRow& row : kForms)
        if (row.viewId == viewId) return &row;
    return nullptr;
}

QString FormText(const FormRow& row) {
    return QString::fromUtf8(row.text);
}

CFormView* MakeForm(const FormRow& row, FormContext& ctx, QWidget* parent) {
    if (row.make != nullptr) return row.make(ctx, parent);
    return new CPlaceholderForm(row.viewId, FormText(row), parent);
}
