// Turns a dialog template into Qt widgets. Dialog units become pixels with
// the template font's metrics: x * average character width / 4 and
// y * character height / 8, rounded as MulDiv rounds.
#pragma once

#include <QFont>
#include <QRect>
#include <functional>
#include <vector>

#include "ResourceTypes.h"

class QWidget;

class CDialogBuilder {
public:
    explicit CDialogBuilder(const CDialogTemplate& dlgTemplate);

    const QFont& GetFont() const { return m_font; }
    // cx is the average character width, cy the character height, in pixels.
    QSize GetBaseUnits() const { return QSize(m_cxChar, m_cyChar); }
    QRect MapDialogRect(int x, int y, int cx, int cy) const;
    QSize GetClientSize() const;

    // Creates every control as a child of pParent, in template order, and
    // sets the template font on pParent. pfnNotify receives the controls'
    // notifications (id, code): BN_CLICKED, EN_CHANGE, CBN_SELCHANGE, and
    // LBN_SELCHANGE and LBN_DBLCLK from list boxes with LBS_NOTIFY.
    void Build(QWidget* pParent, const std::function<void(int nID, int nCode)>& pfnNotify) const;

    // The id of the template's BS_DEFPUSHBUTTON, or 0.
    int GetDefaultButtonId() const;

private:
    // The control's place on the parent from its template rectangle: a combo
    // box as tall as its field, a list box in whole rows, an icon 32 by 32,
    // a label fitted to its text.
    QRect PlaceControl(const CDialogItemTemplate& item, QWidget* pControl) const;
    // Gives each label with a mnemonic the next control that takes the focus.
    void SetBuddies(const std::vector<QWidget*>& created) const;

    const CDialogTemplate& m_template;
    QFont m_font;
    int m_cxChar;
    int m_cyChar;
};

// The control with id nID among pDlg's children, or null.
QWidget* GetDlgItem(const QWidget* pDlg, int nID);
// The template id of a control built from a template; 0 for other widgets.
int GetDlgCtrlID(const QWidget* pControl);
// The template style of a control built from a template.
DWORD GetControlStyle(const QWidget* pControl);
