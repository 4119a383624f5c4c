// Dialogs built from their templates: geometry in dialog units, the kinds
// and styles of controls, keyboard handling as the system's dialogs do it.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "platform/ui/Controls.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/DialogBuilder.h"
#include "platform/ui/WaitCursor.h"
#include "res/RegprobeResources.h"
#include "res/Resource.h"
#include "tests/support/ui/UiTestSupport.h"
#include "testview/ui/RegprobeView.h"

namespace {
// A dialog that records the commands reaching it and ends on none of them
// except through the framework's OK and Cancel.
class CRecordingDialog : public CDialog {
public:
    explicit CRecordingDialog(UINT nID) : CDialog(nID) {}

    BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pInfo) override {
        if (pInfo == nullptr && nCode != CN_UPDATE_COMMAND_UI) {
            m_commands.push_back(nID);
        }
        return CDialog::OnCmdMsg(nID, nCode, pExtra, pInfo);
    }
    std::vector<UINT> m_commands;
};

class DialogTemplateTest : public ::testing::Test {
protected:
    void SetUp() override { AfxSetResourceHandle(&RegprobeResources()); }
};

// The base units, measured here independently of the builder.
QSize BaseUnits() {
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    QFontMetrics fm(font);
    int cx = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize((cx / 26 + 1) / 2, fm.height());
}

int Round(double v) {
    return static_cast<int>(v + 0.5);
}
}  // namespace

TEST_F(DialogTemplateTest, ConnectionsDialogMatchesItsDialogUnits) {
    CDialog dlg(IDD_CONNECTIONS);
    ASSERT_TRUE(dlg.Create());
    QSize base = BaseUnits();
    ASSERT_GT(base.width(), 3);
    auto px = [&](int x, int y, int cx, int cy) {
        int left = Round(x * base.width() / 4.0);
        int top = Round(y * base.height() / 8.0);
        return QRect(left, top, Round((x + cx) * base.width() / 4.0) - left,
                     Round((y + cy) * base.height() / 8.0) - top);
    };
    EXPECT_EQ(dlg.size(), px(0, 0, 270, 130).size());
    struct Item {
        int nID;
        int x, y, cx, cy;
    };
    const Item items[] = {{IDC_BUTTON_ADD, 23, 20, 39, 12},
                          {IDC_LIST_CONNECTIONS, 22, 35, 225, 56},
                          {IDCANCEL, 168, 97, 40, 12}};
    for (const Item& item : items) {
        EXPECT_EQ(dlg.GetDlgItem(item.nID)->geometry(), px(item.x, item.y, item.cx, item.cy))
            << item.nID;
    }
    // A drop-down list keeps its place and width; its height is the field's.
    QRect rcCombo = dlg.GetDlgItem(IDC_COMBO_TYPE)->geometry();
    EXPECT_EQ(rcCombo.topLeft(), px(67, 20, 90, 46).topLeft());
    EXPECT_EQ(rcCombo.width(), px(67, 20, 90, 46).width());
    EXPECT_LT(rcCombo.height(), px(67, 20, 90, 46).height());
}

TEST_F(DialogTemplateTest, ControlsHaveTheirKindsAndStyles) {
    CDialog comm(IDD_COMM_PARAMS);
    ASSERT_TRUE(comm.Create());
    EXPECT_TRUE(comm.windowFlags() & Qt::WindowCloseButtonHint);
    auto* pPort = comm.GetDlgItem<QComboBox>(IDC_COMBO_PORT);
    ASSERT_NE(pPort, nullptr);
    EXPECT_FALSE(pPort->isEditable());  // a drop-down list
    // Without BS_DEFPUSHBUTTON no button is the default one.
    ASSERT_NE(comm.GetDlgItem<QPushButton>(IDC_BUTTON_OK), nullptr);
    EXPECT_FALSE(comm.GetDlgItem<QPushButton>(IDC_BUTTON_OK)->isDefault());
    // A label's mnemonic leads to the control after it.
    for (QLabel* pLabel : comm.findChildren<QLabel*>()) {
        if (pLabel->text() == QStringLiteral("F&low:")) {
            EXPECT_EQ(pLabel->buddy(), comm.GetDlgItem<QCheckBox>(IDC_CHECK_DTRDSR));
        }
    }
    // Automatic radio buttons: neither is checked until one is clicked.
    auto* pRtu = comm.GetDlgItem<QRadioButton>(IDC_RADIO_RTU);
    auto* pAscii = comm.GetDlgItem<QRadioButton>(IDC_RADIO_ASCII);
    EXPECT_FALSE(pRtu->isChecked() || pAscii->isChecked());
    pRtu->click();
    pAscii->click();
    EXPECT_FALSE(pRtu->isChecked());
    EXPECT_TRUE(pAscii->isChecked());
    // A sorted box places lines; adding selects nothing. An unsorted one
    // keeps the order of adding.
    auto* pParity = comm.GetDlgItem<QComboBox>(IDC_COMBO_PARITY);
    for (const char* psz : {"No parity", "Odd", "even", "Mark"}) {
        AddString(pParity, psz);
    }
    QStringList parity;
    for (int i = 0; i < pParity->count(); ++i) {
        parity << pParity->itemText(i);
    }
    EXPECT_EQ(parity, (QStringList{"even", "Mark", "No parity", "Odd"}));
    EXPECT_EQ(pParity->currentIndex(), -1);
    auto* pBaud = comm.GetDlgItem<QComboBox>(IDC_COMBO_BAUDRATE);
    EXPECT_EQ(AddString(pBaud, "9600"), 0);
    EXPECT_EQ(AddString(pBaud, "110"), 1);

    CDialog connections(IDD_CONNECTIONS);
    ASSERT_TRUE(connections.Create());
    EXPECT_FALSE(connections.windowFlags() & Qt::WindowCloseButtonHint);  // no system menu
    auto* pList = connections.GetDlgItem<QListWidget>(IDC_LIST_CONNECTIONS);
    EXPECT_EQ(AddString(pList, "plc:502"), 0);
    EXPECT_EQ(AddString(pList, "Com2"), 0);
    // Inserting at an index ignores the order, as the system's list does.
    pList->insertItem(0, QStringLiteral("zz"));
    EXPECT_EQ(pList->item(0)->text(), QStringLiteral("zz"));

    CRegprobeView form;
    auto* pValues = form.GetDlgItem<QListWidget>(IDC_LIST_VALUES);
    ASSERT_NE(pValues, nullptr);
    // Without LBS_NOINTEGRALHEIGHT the box shrinks to whole rows.
    EXPECT_LE(pValues->height(), form.MapDialogRect(186, 31, 174, 105).height());
    EXPECT_EQ((pValues->height() - 2 * pValues->frameWidth()) % pValues->sizeHintForRow(0), 0);
    EXPECT_EQ(form.GetDlgItem<QLabel>(IDC_STATIC_STATISTICS)->frameShape(), QFrame::Box);
}

TEST_F(DialogTemplateTest, DigitsOnlyEdits) {
    CDialog remote(IDD_REMOTE_SERVER);
    ASSERT_TRUE(remote.Create());
    remote.show();
    auto* pPort = remote.GetDlgItem<QLineEdit>(IDC_EDIT_PORT);
    auto* pTimeout = remote.GetDlgItem<QLineEdit>(IDC_EDIT_TIMEOUT);
    QTest::keyClicks(pPort, QStringLiteral("5a0-2"));
    QTest::keyClicks(pTimeout, QStringLiteral("-5x"));
    EXPECT_EQ(pPort->text(), QStringLiteral("502"));
    EXPECT_EQ(pTimeout->text(), QStringLiteral("-5x"));
}

TEST_F(DialogTemplateTest, EnterGoesToTheDefaultButtonEscCancels) {
    {
        CRecordingDialog remote(IDD_REMOTE_SERVER);
        WhenModal([&](QWidget*) {
            remote.GetDlgItem(IDC_EDIT_ADDRESS)->setFocus();
            QTest::keyClick(remote.GetDlgItem(IDC_EDIT_ADDRESS), Qt::Key_Return);
            QTest::keyClick(remote.GetDlgItem(IDC_EDIT_PORT), Qt::Key_Escape);
        });
        EXPECT_EQ(remote.DoModal(), IDCANCEL);
        EXPECT_EQ(remote.m_commands,
                  (std::vector<UINT>{static_cast<UINT>(IDC_OK_BUTTON), IDCANCEL}));
    }
    {
        // No default button: Enter is the framework's OK, which ends it.
        CRecordingDialog connections(IDD_CONNECTIONS);
        WhenModal([&](QWidget*) {
            QWidget* pList = connections.GetDlgItem(IDC_LIST_CONNECTIONS);
            pList->setFocus();
            QTest::keyClick(pList, Qt::Key_Enter);
        });
        EXPECT_EQ(connections.DoModal(), IDOK);
        EXPECT_EQ(connections.m_commands, std::vector<UINT>{IDOK});
    }
    {
        // Enter on a push button is that button; a click reports its id.
        CRecordingDialog connections(IDD_CONNECTIONS);
        WhenModal([&](QWidget*) {
            QWidget* pSave = connections.GetDlgItem(IDC_BUTTON_SAVE);
            pSave->setFocus();
            QTest::keyClick(pSave, Qt::Key_Return);
            QTest::mouseClick(connections.GetDlgItem(IDC_BUTTON_ADD), Qt::LeftButton);
            connections.close();  // the close box, were there one, cancels
        });
        EXPECT_EQ(connections.DoModal(), IDCANCEL);
        EXPECT_EQ(connections.m_commands,
                  (std::vector<UINT>{static_cast<UINT>(IDC_BUTTON_SAVE),
                                     static_cast<UINT>(IDC_BUTTON_ADD), IDCANCEL}));
    }
}

TEST_F(DialogTemplateTest, MissingTemplateFailsToRun) {
    CDialog dlg(999);
    EXPECT_FALSE(dlg.Create());
    EXPECT_EQ(dlg.DoModal(), -1);
}

TEST(MessageBoxTest, ShowsTheTitleNoIconAndTheAskedButtons) {
    AfxSetResourceHandle(&RegprobeResources());
    struct Case {
        UINT nType;
        QMessageBox::StandardButton press;
        int nExpected;
    };
    const Case cases[] = {{MB_OK | MB_SYSTEMMODAL, QMessageBox::Ok, IDOK},
                          {MB_YESNO, QMessageBox::No, IDNO}};
    for (const Case& c : cases) {
        QString strTitle;
        QString strText;
        int nButtons = 0;
        bool bNoIcon = false;
        WhenModal([&](QWidget* pWidget) {
            auto* pBox = qobject_cast<QMessageBox*>(pWidget);
            ASSERT_NE(pBox, nullptr);
            strTitle = pBox->windowTitle();
            strText = pBox->text();
            nButtons = static_cast<int>(pBox->buttons().size());
            bNoIcon = pBox->icon() == QMessageBox::NoIcon;
            pBox->button(c.press)->click();
        });
        EXPECT_EQ(AfxMessageBox("Library registred", c.nType), c.nExpected);
        EXPECT_EQ(strTitle, QStringLiteral("Regprobe"));
        EXPECT_EQ(strText, QStringLiteral("Library registred"));
        EXPECT_EQ(nButtons, (c.nType & MB_TYPEMASK) == MB_YESNO ? 2 : 1);
        EXPECT_TRUE(bNoIcon);
    }
}

TEST(WaitCursorTest, NestsAndRestores) {
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    {
        CWaitCursor outer;
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            CWaitCursor inner;
            QGuiApplication::changeOverrideCursor(Qt::ArrowCursor);  // as a message box might
            inner.Restore();
            EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }
        EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
    }
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(DialogTemplateTest, GroupBoxCaptionSitsOnTheFramesTopEdge) {
    CDialogTemplate tmpl{1, WS_CAPTION, 120, 70, "Group", 8, "MS Sans Serif", {}};
    tmpl.items.push_back({CtlClass::Button, -1, "Transmission &Mode", 0, 10, 10, 100, 50,
                          WS_VISIBLE | BS_GROUPBOX, 0});
    CDialogBuilder builder(tmpl);
    QWidget dlg;
    builder.Build(&dlg, [](int, int) {});
    dlg.resize(builder.GetClientSize());
    auto* pGroup = dlg.findChild<QGroupBox*>();
    ASSERT_NE(pGroup, nullptr);
    QImage img = dlg.grab().toImage();
    QRect rc = pGroup->geometry();
    QRgb background = img.pixel(2, 2);
    auto isInk = [&](int x, int y) { return img.pixel(x, y) != background; };

    // The top edge, read on the right where no caption is: half a line of
    // text below the box's top, with nothing above it.
    QFontMetrics fm(pGroup->font());
    int xRight = rc.right() - 4;
    int yEdge = -1;
    for (int y = rc.top(); y < rc.bottom() && yEdge < 0; ++y) {
        if (isInk(xRight, y)) {
            yEdge = y;
        }
    }
    EXPECT_NEAR(yEdge, rc.top() + fm.height() / 2, 1);
    // The caption has ink above and below that edge, and breaks it.
    int xCaption = rc.left() + fm.averageCharWidth();
    int cxCaption = fm.horizontalAdvance(QStringLiteral("Transmission Mode"));
    bool bAbove = false, bBelow = false;
    int nBroken = 0;
    for (int x = xCaption; x < xCaption + cxCaption; ++x) {
        for (int y = rc.top(); y < rc.top() + fm.height(); ++y) {
            bAbove |= y < yEdge - 1 && isInk(x, y);
            bBelow |= y > yEdge + 1 && isInk(x, y);
        }
        nBroken += isInk(x, yEdge) ? 0 : 1;
    }
    EXPECT_TRUE(bAbove);
    EXPECT_TRUE(bBelow);
    EXPECT_GT(nBroken, cxCaption / 4);
    // A frame, not a filled or sunken panel: the inside is the dialog's.
    EXPECT_FALSE(isInk(rc.center().x(), rc.center().y()));
    EXPECT_TRUE(isInk(rc.left(), rc.center().y()) || isInk(rc.left() + 1, rc.center().y()));
}
