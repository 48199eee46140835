#pragma once
// The base of every form in the client area: a widget named after its view id whose
// initial update (first requests, timer start) runs once it is in place.

#include <QWidget>

class CFormView : public QWidget {
    Q_OBJECT
public:
    CFormView(int formId, QWidget* parent);
    int FormId() const { return formId_; }
    // Runs after the form was built and the frame waited its 100 ms.
    virtual void OnInitialUpdate() {}

signals:
    // The form moved the link to other settings (a module re-addressed): the frame shows
    // the link's new device id and rate.
    void LinkSettingsChanged();

private:
    int formId_;
};
