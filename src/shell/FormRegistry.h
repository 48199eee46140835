#pragma once
// The one table of forms: view id, item text, where it is offered (a navigation folder or
// the View menu), its image, whether it is an internal item, and how it is built. The
// navigation bar, SwitchToForm, the View menu and kvt40 --form all read it.
//
// Adding a form is one row in FormTable.cpp.

#include <QString>
#include <span>

#include "formkit/FormContext.h"
#include "formkit/FormView.h"

enum class FormPlace { RealTimeData, Setting, ViewMenu };

struct FormRow {
    int viewId;
    const char* text;  // item or menu text, UTF-8; also the end of the window title
    FormPlace place;
    int image;      // navigation image index (unused for the View menu)
    bool internal;  // offered only with the internal items switch on
    // Builds the form; nullptr shows a placeholder (a form this version does not have).
    CFormView* (*make)(FormContext& ctx, QWidget* parent);
};

// Rows in navigation order within each place.
std::span<const FormRow> FormTable();
const FormRow* FindForm(int viewId);
QString FormText(const FormRow& row);
// A fresh form for the row, or its placeholder.
CFormView* MakeForm(const FormRow& row, FormContext& ctx, QWidget* parent);
