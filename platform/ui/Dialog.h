// A modal dialog built from a dialog template. Controls are reached by id;
// their notifications and the buttons' clicks arrive as commands through the
// dialog's command map. Enter sends the focused push button's id, else the
// default button's, else IDOK; Esc and the close box send IDCANCEL.
#pragma once

#include <QDialog>
#include <memory>

#include "CmdTarget.h"
#include "DataExchange.h"

class CDialog : public QDialog, public CCmdTarget {
    Q_OBJECT
    DECLARE_DYNAMIC(CDialog)

public:
    explicit CDialog(UINT nIDTemplate, QWidget* pParentWnd = nullptr);
    ~CDialog() override;

    // Runs the dialog; the result EndDialog gave, or -1 when the template
    // cannot be found. Without a parent the main window owns it.
    virtual INT_PTR DoModal();
    // Builds the controls and runs OnInitDialog without running the dialog.
    BOOL Create();
    void EndDialog(int nResult);

    QWidget* GetDlgItem(int nID) const;
    template <typename T>
    T* GetDlgItem(int nID) const {
        return qobject_cast<T*>(GetDlgItem(nID));
    }
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    UINT GetTemplateId() const { return m_nIDTemplate; }
    // Pixels for a rectangle in this dialog's units.
    QRect MapDialogRect(int x, int y, int cx, int cy) const;

    // Runs the command a control, a key or the program sends, as WM_COMMAND.
    void SendCommand(UINT nID, int nCode = BN_CLICKED);

protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange* pDX);

    void keyPressEvent(QKeyEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void reject() override;
    void accept() override;

private:
    UINT m_nIDTemplate;
    QWidget* m_pParentWnd;
    const CDialogTemplate* m_pTemplate = nullptr;
    std::unique_ptr<CDialogBuilder> m_pBuilder;
    BOOL m_bCreated = FALSE;
};
