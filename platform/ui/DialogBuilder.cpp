#include "DialogBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStyle>

#include "ResourceModule.h"
#include "WidgetIds.h"

namespace {
const char* const kStyleProperty = "regprobeDlgCtrlStyle";

// Rounds to nearest, halves away from zero.
int MulDiv(int nNumber, int nNumerator, int nDenominator) {
    long long n = static_cast<long long>(nNumber) * nNumerator;
    long long half = nDenominator / 2;
    return static_cast<int>(n >= 0 ? (n + half) / nDenominator : (n - half) / nDenominator);
}

// A check box the program checks itself: a click only reports.
class CManualCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {}
};

// "&&" is a literal ampersand, a single one marks the mnemonic.
QString WithoutMnemonic(const QString& str) {
    QString out;
    for (int i = 0; i < str.size(); ++i) {
        if (str[i] == QLatin1Char('&')) {
            if (i + 1 < str.size() && str[i + 1] == QLatin1Char('&')) {
                out += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        out += str[i];
    }
    return out;
}

// A group box as the system draws one: an etched frame whose top edge runs
// through the middle of the caption, the caption breaking it. Qt's styles
// put the caption above a panel instead, which reads as a different control.
class CGroupFrame : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter dc(this);
        QFontMetrics fm(font());
        const QPalette& pal = palette();
        QRect rcFrame = rect().adjusted(0, fm.height() / 2, 0, 0);
        // Etched: a shadow line with a light line one pixel below and right.
        dc.setPen(pal.color(QPalette::Light));
        dc.drawRect(rcFrame.adjusted(1, 1, -1, -1));
        dc.setPen(pal.color(QPalette::Dark));
        dc.drawRect(rcFrame.adjusted(0, 0, -2, -2));
        if (title().isEmpty()) {
            return;
        }
        // The caption starts a little in, with a space's room either side.
        int cxPad = fm.horizontalAdvance(QLatin1Char(' ')) / 2 + 1;
        QString strShown = WithoutMnemonic(title());
        QRect rcText(fm.averageCharWidth(), 0, fm.horizontalAdvance(strShown) + 2 * cxPad,
                     fm.height());
        dc.fillRect(rcText, pal.color(QPalette::Window));
        style()->drawItemText(&dc, rcText, Qt::AlignCenter | Qt::TextShowMnemonic, pal, isEnabled(),
                              title(), QPalette::WindowText);
    }
};

// A label of two lines or more wraps its words. A one-line label whose
// text is wider than its box (this font runs a little wider than the one
// the templates were drawn for) is widened to its text instead of losing
// its last word.
void FitLabel(QLabel* pLabel, QRect& rc) {
    QFontMetrics fm(pLabel->font());
    if (rc.height() >= 2 * fm.height()) {
        pLabel->setWordWrap(true);
        return;
    }
    // Mnemonics are not in the text yet; it reads as it will be drawn.
    int cxText = fm.horizontalAdvance(pLabel->text()) + 2 * pLabel->frameWidth();
    if (cxText > rc.width() && (pLabel->alignment() & Qt::AlignLeft)) {
        rc.setWidth(cxText);
    }
}

bool TakesFocus(const CDialogItemTemplate& item) {
    if (!(item.dwStyle & WS_TABSTOP)) {
        return false;
    }
    return !(item.nClass == CtlClass::Static ||
             (item.nClass == CtlClass::Button && (item.dwStyle & BS_TYPEMASK) == BS_GROUPBOX));
}

QWidget* CreateButton(const CDialogItemTemplate& item, QWidget* pParent,
                      const std::function<void(int, int)>& pfnNotify) {
    QString strText = QString::fromStdString(item.strText);
    int nID = item.nID;
    auto notifyClick = [pfnNotify, nID] { pfnNotify(nID, BN_CLICKED); };
    switch (item.dwStyle & BS_TYPEMASK) {
        case BS_GROUPBOX: {
            auto* pGroup = new CGroupFrame(strText, pParent);
            pGroup->setAttribute(Qt::WA_TransparentForMouseEvents);
            return pGroup;
        }
        case BS_AUTOCHECKBOX:
        case BS_CHECKBOX: {
            QCheckBox* pCheck = (item.dwStyle & BS_TYPEMASK) == BS_AUTOCHECKBOX
                                    ? new QCheckBox(strText, pParent)
                                    : new CManualCheckBox(strText, pParent);
            QObject::connect(pCheck, &QAbstractButton::clicked, pCheck, notifyClick);
            return pCheck;
        }
        case BS_AUTORADIOBUTTON:
        case BS_RADIOBUTTON: {
            auto* pRadio = new QRadioButton(strText, pParent);
            pRadio->setAutoExclusive((item.dwStyle & BS_TYPEMASK) == BS_AUTORADIOBUTTON);
            QObject::connect(pRadio, &QAbstractButton::clicked, pRadio, notifyClick);
            return pRadio;
        }
        default: {
            auto* pButton = new QPushButton(strText, pParent);
            // Enter is the dialog's business, as on the system we follow.
            pButton->setAutoDefault(false);
            pButton->setDefault((item.dwStyle & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
            QObject::connect(pButton, &QAbstractButton::clicked, pButton, notifyClick);
            return pButton;
        }
    }
}

QWidget* CreateEdit(const CDialogItemTemplate& item, QWidget* pParent,
                    const std::function<void(int, int)>& pfnNotify) {
    auto* pEdit = new QLineEdit(pParent);
    pEdit->setFrame(item.dwStyle & WS_BORDER);
    pEdit->setReadOnly(item.dwStyle & ES_READONLY);
    if (item.dwStyle & ES_NUMBER) {
        pEdit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), pEdit));
    }
    int nID = item.nID;
    QObject::connect(pEdit, &QLineEdit::textChanged, pEdit,
                     [pfnNotify, nID] { pfnNotify(nID, EN_CHANGE); });
    return pEdit;
}

QWidget* CreateStatic(const CDialogItemTemplate& item, QWidget* pParent) {
    auto* pLabel = new QLabel(pParent);
    pLabel->setTextFormat(Qt::PlainText);
    if ((item.dwStyle & SS_TYPEMASK) == SS_ICON) {
        if (HICON hIcon = LoadIcon(AfxGetResourceHandle(), item.nImage)) {
            pLabel->setPixmap(hIcon->pixmap(32, 32));
        }
        pLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return pLabel;
    }
    Qt::Alignment align = Qt::AlignLeft;
    if ((item.dwStyle & SS_TYPEMASK) == SS_CENTER) {
        align = Qt::AlignHCenter;
    } else if ((item.dwStyle & SS_TYPEMASK) == SS_RIGHT) {
        align = Qt::AlignRight;
    }
    pLabel->setAlignment(align | Qt::AlignTop);
    QString strText = QString::fromStdString(item.strText);
    pLabel->setText((item.dwStyle & SS_NOPREFIX) ? strText : WithoutMnemonic(strText));
    if (item.dwStyle & WS_BORDER) {
        pLabel->setFrameStyle(QFrame::Box | QFrame::Plain);
    } else if ((item.dwStyle & SS_SUNKEN) || (item.dwExStyle & WS_EX_STATICEDGE)) {
        pLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    }
    return pLabel;
}

QWidget* CreateListBox(const CDialogItemTemplate& item, QWidget* pParent,
                       const std::function<void(int, int)>& pfnNotify) {
    auto* pList = new QListWidget(pParent);
    pList->setFrameShape((item.dwStyle & WS_BORDER) ? QFrame::StyledPanel : QFrame::NoFrame);
    pList->setVerticalScrollBarPolicy((item.dwStyle & WS_VSCROLL) ? Qt::ScrollBarAsNeeded
                                                                  : Qt::ScrollBarAlwaysOff);
    pList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pList->setSelectionMode(QAbstractItemView::SingleSelection);
    if (item.dwStyle & LBS_NOTIFY) {
        int nID = item.nID;
        QObject::connect(pList, &QListWidget::itemSelectionChanged, pList,
                         [pfnNotify, nID] { pfnNotify(nID, LBN_SELCHANGE); });
        QObject::connect(pList, &QListWidget::itemDoubleClicked, pList,
                         [pfnNotify, nID] { pfnNotify(nID, LBN_DBLCLK); });
    }
    return pList;
}

QWidget* CreateComboBox(const CDialogItemTemplate& item, QWidget* pParent,
                        const std::function<void(int, int)>& pfnNotify) {
    auto* pCombo = new QComboBox(pParent);
    pCombo->setEditable((item.dwStyle & 0x3) == CBS_DROPDOWN);
    int nID = item.nID;
    // Only the user's choice notifies, not the program's selection.
    QObject::connect(pCombo, &QComboBox::activated, pCombo,
                     [pfnNotify, nID] { pfnNotify(nID, CBN_SELCHANGE); });
    return pCombo;
}
}  // namespace

CDialogBuilder::CDialogBuilder(const CDialogTemplate& dlgTemplate)
    : m_template(dlgTemplate),
      m_font(QString::fromStdString(dlgTemplate.strFaceName), dlgTemplate.wPointSize) {
    m_font.setStyleHint(QFont::SansSerif);
    QFontMetrics fm(m_font);
    // The system's own measure: the alphabet's width over 52, rounded.
    int cxAlphabet = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_cxChar = (cxAlphabet / 26 + 1) / 2;
    m_cyChar = fm.height();
}

QRect CDialogBuilder::MapDialogRect(int x, int y, int cx, int cy) const {
    int left = MulDiv(x, m_cxChar, 4);
    int top = MulDiv(y, m_cyChar, 8);
    int right = MulDiv(x + cx, m_cxChar, 4);
    int bottom = MulDiv(y + cy, m_cyChar, 8);
    return QRect(left, top, right - left, bottom - top);
}

QSize CDialogBuilder::GetClientSize() const {
    return MapDialogRect(0, 0, m_template.cx, m_template.cy).size();
}

int CDialogBuilder::GetDefaultButtonId() const {
    for (const CDialogItemTemplate& item : m_template.items) {
        if (item.nClass == CtlClass::Button && (item.dwStyle & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            return item.nID;
        }
    }
    return 0;
}

QRect CDialogBuilder::PlaceControl(const CDialogItemTemplate& item, QWidget* pControl) const {
    QRect rc = MapDialogRect(item.x, item.y, item.cx, item.cy);
    if (auto* pCombo = qobject_cast<QComboBox*>(pControl)) {
        // The template's height includes the dropped-down list.
        int cyField = pCombo->sizeHint().height();
        int cyItem = QFontMetrics(m_font).height() + 2;
        pCombo->setMaxVisibleItems(std::max(1, (rc.height() - cyField) / cyItem));
        rc.setHeight(cyField);
    } else if (auto* pList = qobject_cast<QListWidget*>(pControl)) {
        if (!(item.dwStyle & LBS_NOINTEGRALHEIGHT)) {
            // Shrink to whole rows, as the system does for list boxes.
            pList->addItem(QStringLiteral("Xg"));
            int cyRow = std::max(1, pList->sizeHintForRow(0));
            delete pList->takeItem(0);
            int cyFrame = 2 * pList->frameWidth();
            int nRows = std::max(1, (rc.height() - cyFrame) / cyRow);
            rc.setHeight(nRows * cyRow + cyFrame);
        }
    } else if ((item.dwStyle & SS_TYPEMASK) == SS_ICON && item.nClass == CtlClass::Static) {
        rc.setSize(QSize(32, 32));
    }
    if (auto* pLabel = qobject_cast<QLabel*>(pControl); pLabel && pLabel->pixmap().isNull()) {
        FitLabel(pLabel, rc);
    }
    return rc;
}

void CDialogBuilder::SetBuddies(const std::vector<QWidget*>& created) const {
    // A label's mnemonic moves the focus to the next control that takes it.
    for (size_t i = 0; i < created.size(); ++i) {
        const CDialogItemTemplate& item = m_template.items[i];
        auto* pLabel = qobject_cast<QLabel*>(created[i]);
        if (pLabel == nullptr || (item.dwStyle & SS_NOPREFIX) ||
            (item.dwStyle & SS_TYPEMASK) == SS_ICON ||
            item.strText.find('&') == std::string::npos) {
            continue;
        }
        for (size_t j = i + 1; j < created.size(); ++j) {
            if (TakesFocus(m_template.items[j])) {
                pLabel->setText(QString::fromStdString(item.strText));
                pLabel->setBuddy(created[j]);
                break;
            }
        }
    }
}

void CDialogBuilder::Build(QWidget* pParent, const std::function<void(int, int)>& pfnNotify) const {
    pParent->setFont(m_font);
    std::vector<QWidget*> created;
    for (const CDialogItemTemplate& item : m_template.items) {
        QWidget* pControl = nullptr;
        switch (item.nClass) {
            case CtlClass::Button:
                pControl = CreateButton(item, pParent, pfnNotify);
                break;
            case CtlClass::Edit:
                pControl = CreateEdit(item, pParent, pfnNotify);
                break;
            case CtlClass::Static:
                pControl = CreateStatic(item, pParent);
                break;
            case CtlClass::ListBox:
                pControl = CreateListBox(item, pParent, pfnNotify);
                break;
            case CtlClass::ComboBox:
                pControl = CreateComboBox(item, pParent, pfnNotify);
                break;
        }
        pControl->setProperty(kControlIdProperty, item.nID);
        pControl->setProperty(kStyleProperty, static_cast<uint>(item.dwStyle));
        const QRect rc = PlaceControl(item, pControl);
        pControl->setGeometry(rc);
        pControl->setEnabled(!(item.dwStyle & WS_DISABLED));
        pControl->setVisible(item.dwStyle & WS_VISIBLE);
        created.push_back(pControl);
    }
    SetBuddies(created);
}

QWidget* GetDlgItem(const QWidget* pDlg, int nID) {
    if (pDlg == nullptr) {
        return nullptr;
    }
    for (QObject* pChild : pDlg->children()) {
        auto* pWidget = qobject_cast<QWidget*>(pChild);
        if (pWidget != nullptr && GetDlgCtrlID(pWidget) == nID) {
            return pWidget;
        }
    }
    return nullptr;
}

int GetDlgCtrlID(const QWidget* pControl) {
    QVariant v = pControl ? pControl->property(kControlIdProperty) : QVariant();
    return v.isValid() ? v.toInt() : 0;
}

DWORD GetControlStyle(const QWidget* pControl) {
    QVariant v = pControl ? pControl->property(kStyleProperty) : QVariant();
    return v.isValid() ? v.toUInt() : 0;
}
