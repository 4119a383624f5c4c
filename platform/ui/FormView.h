// A view whose content is a dialog template (a child form without caption),
// scrolled when the frame is smaller than the form. Controls are reached by
// id and notify through the view's command map, as in a dialog.
#pragma once

#include <memory>

#include "DataExchange.h"
#include "View.h"

class QScrollArea;

class CFormView : public CView {
    Q_OBJECT
    DECLARE_DYNAMIC(CFormView)

public:
    explicit CFormView(UINT nIDTemplate);
    ~CFormView() override;

    QWidget* GetDlgItem(int nID) const;
    template <typename T>
    T* GetDlgItem(int nID) const {
        return qobject_cast<T*>(GetDlgItem(nID));
    }
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    // The form's size in pixels; empty when the template is missing.
    QSize GetFormSize() const;
    QRect MapDialogRect(int x, int y, int cx, int cy) const;

    // Exchanges data towards the controls.
    void OnInitialUpdate() override;

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    QSize sizeHint() const override;
    // Focus given to the view goes on to its first control that takes it.
    void focusInEvent(QFocusEvent* pEvent) override;

private:
    UINT m_nIDTemplate;
    std::unique_ptr<CDialogBuilder> m_pBuilder;
    QScrollArea* m_pScrollArea = nullptr;
    QWidget* m_pForm = nullptr;
};
