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
    // Asked before the frame takes the form away (another item, the window closing): true
    // when it may go now. A form with work running asks the user, and ends that work on yes.
    virtual bool MayLeave() { return true; }

signals:
    // The form moved the link to other settings (a module re-addressed): the frame shows
    // the link's new device id and rate.
    void LinkSettingsChanged();

private:
    int formId_;
};
