// SPDX-License-Identifier: Apache-2.0
// The port lamp and the port settings dialog as widgets: the lamp's glyphs and drawing,
// the main window's blue lamp following Connect, and "Setup" on real pseudo-terminals.
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>

#include "app/com_led.h"
#include "app/com_setup.h"
#include "gui_support.h"

namespace wct::test {
namespace {

// The colour in the middle of what the lamp draws.
QColor Centre(TComLed& lamp) {
    const QImage image = lamp.grab().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

TEST(ComLedTest, EveryBuiltInKindHasDistinctOnAndOffGlyphsOfFifteenPixels) {
    for (TLedKind kind :
         {lkRedLight, lkGreenLight, lkBlueLight, lkYellowLight, lkPurpleLight, lkBulb}) {
        const QImage on = TComLed::BuiltInGlyph(kind, lsOn).toImage();
        const QImage off = TComLed::BuiltInGlyph(kind, lsOff).toImage();
        EXPECT_EQ(on.size(), QSize(15, 15));
        EXPECT_EQ(off.size(), QSize(15, 15));
        EXPECT_NE(on, off) << kind;
        // The corners stay transparent, the centre is drawn, brighter when on.
        EXPECT_EQ(on.pixelColor(0, 0).alpha(), 0);
        EXPECT_GT(on.pixelColor(7, 7).lightness(), off.pixelColor(7, 7).lightness()) << kind;
    }
}

TEST(ComLedTest, ABlueLampDrawsBlueWhenOnAndTheOffGlyphWhenDisabled) {
    TComLed lamp;
    EXPECT_EQ(lamp.size(), QSize(25, 25));
    EXPECT_EQ(lamp.Kind(), lkRedLight);
    lamp.SetKind(lkBlueLight);
    const QColor off = Centre(lamp);
    lamp.SetState(lsOn);
    const QColor on = Centre(lamp);
    EXPECT_GT(on.blue(), on.red() + 60);
    EXPECT_GT(on.lightness(), off.lightness());
    lamp.setEnabled(false);
    EXPECT_EQ(Centre(lamp), off);
}

TEST(ComLedTest, CustomGlyphsAreTakenOnlyByACustomLampAndMadeTransparent) {
    TComLed lamp;
    QPixmap green(15, 15);
    green.fill(Qt::green);
    lamp.SetGlyphOn(green);
    EXPECT_EQ(lamp.GlyphOn().toImage(), TComLed::BuiltInGlyph(lkRedLight, lsOn).toImage());

    lamp.SetKind(lkCustom);
    QImage ringed(15, 15, QImage::Format_RGB32);
    ringed.fill(Qt::white);  // the bottom-left colour: transparent
    for (int y = 4; y < 11; ++y)
        for (int x = 4; x < 11; ++x) ringed.setPixelColor(x, y, Qt::green);
    lamp.SetGlyphOn(QPixmap::fromImage(ringed));
    lamp.SetGlyphOff(QPixmap::fromImage(ringed));
    lamp.SetState(lsOn);
    const QImage drawn = lamp.grab().toImage();
    EXPECT_EQ(drawn.pixelColor(12, 12), QColor(Qt::green));
    EXPECT_NE(drawn.pixelColor(5 + 1, 5 + 1), QColor(Qt::white));  // the glyph's white is gone
}

TEST(ComLedTest, StateOnABoundLampRaisesTheLedStateError) {
    TComPort port;
    TComLed lamp;
    lamp.SetComPort(&port);
    EXPECT_THROW(lamp.SetState(lsOn), EComPort);
}

TEST(ComLedTest, ARingLightsTheLampForRingDuration) {
    TComPort port;
    TComLed lamp;
    lamp.SetLedSignal(lsRing);
    lamp.SetRingDuration(150);
    lamp.SetComPort(&port);
    QElapsedTimer clock;
    clock.start();
    lamp.Logic().Link().RingSignal(&port);
    EXPECT_EQ(lamp.State(), lsOn);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lamp.State() == lsOff; }, kWaitMs));
    // Window timers may end a few per cent early.
    EXPECT_GE(clock.elapsed(), 140);
}

class PortLampInTheWindowTest : public BenchTest {};

TEST_F(PortLampInTheWindowTest, TheBlueLampIsOffUntilConnectBindsItToTheProtocolsOpenPort) {
    StartBench();
    TComLed& lamp = Form().ComLed1();
    EXPECT_EQ(lamp.Kind(), lkBlueLight);
    EXPECT_EQ(lamp.ComPort(), &Form().ComPort1());
    EXPECT_EQ(lamp.State(), lsOff);
    Connect();
    EXPECT_EQ(lamp.ComPort(), Form().tmp().Port());
    EXPECT_EQ(lamp.State(), lsOn);
    SaveScreenshot(Form(), "main_window_lamp_lit");
    Click("Disconnect");
    EXPECT_TRUE(QTest::qWaitFor([&] { return lamp.State() == lsOff; }, kWaitMs));
}

// ---- The settings dialog ----------------------------------------------------------

struct TPty {
    TPty() {
        int slave = -1;
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty");
        ::close(slave);
        path = name;
    }
    ~TPty() { ::close(master); }
    speed_t Speed() const {
        termios t{};
        tcgetattr(master, &t);
        return cfgetospeed(&t);
    }
    int master = -1;
    std::string path;
};

class SetupDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPortSource([this] { return std::vector<std::string>{a.path, b.path}; });
        port.SetPort(a.path);
        port.SetEvents({});
        port.SetBaudRate(br115200);
        port.FlowControl().SetFlowControl(fcHardware);
    }
    void TearDown() override {
        if (port.Connected()) port.Close();
        SetPortSource(nullptr);
    }

    // Runs the dialog on the port; `operate` acts on it once it is shown.
    void Run(const std::function<void(TComSetupFrm&)>& operate, QWidget* parent = nullptr) {
        bool operated = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = dynamic_cast<TComSetupFrm*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            operated = true;
            operate(*dialog);
        });
        ShowSettingsDialog(port, parent);
        EXPECT_TRUE(operated);
    }
    static TComComboBox& Combo(TComSetupFrm& dialog, int n) {
        return *dialog.Combos()[static_cast<size_t>(n - 1)];
    }
    // Picks `text` with the arrow keys, as an operator does.
    static void Choose(TComComboBox& combo, const QString& text) {
        const int wanted = combo.findText(text);
        ASSERT_GE(wanted, 0) << text.toStdString();
        while (combo.currentIndex() != wanted)
            QTest::keyClick(&combo, combo.currentIndex() < wanted ? Qt::Key_Down : Qt::Key_Up);
    }
    static void Press(TComSetupFrm& dialog, const char* button) {
        QTest::mouseClick(dialog.findChild<QPushButton*>(button), Qt::LeftButton);
    }

    TPty a, b;
    TComPort port;
};

TEST_F(SetupDialogTest, ItShowsThePortsSettingsAndCancelChangesNothing) {
    Run([&](TComSetupFrm& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Setup");
        EXPECT_EQ(Combo(dialog, 1).Text(), a.path);
        EXPECT_EQ(Combo(dialog, 2).Text(), "115200");
        EXPECT_EQ(Combo(dialog, 3).Text(), "8");
        EXPECT_EQ(Combo(dialog, 4).Text(), "1");
        EXPECT_EQ(Combo(dialog, 5).Text(), "None");
        EXPECT_EQ(Combo(dialog, 6).Text(), "Hardware");
        EXPECT_EQ(Combo(dialog, 6).currentText(), "Hardware");
        SaveScreenshot(dialog, "setup_dialog");
        Choose(Combo(dialog, 1), QString::fromStdString(b.path));
        Choose(Combo(dialog, 2), "300");
        Choose(Combo(dialog, 5), "Even");
        Choose(Combo(dialog, 6), "None");
        Press(dialog, "Cancel");
    });
    EXPECT_EQ(port.Port(), a.path);
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
}

TEST_F(SetupDialogTest, AnRtsHandshakeWithXonXoffInShowsCustomFlowControl) {
    port.FlowControl().SetControlRTS(rtsHandshake);
    port.FlowControl().SetXonXoffIn(true);
    Run([&](TComSetupFrm& dialog) {
        EXPECT_EQ(Combo(dialog, 6).Text(), "Custom");
        Press(dialog, "Cancel");
    });
}

TEST_F(SetupDialogTest, CustomBaudRateRunsThePortAtItsCustomRate) {
    port.Open();
    Run([&](TComSetupFrm& dialog) {
        Choose(Combo(dialog, 2), "Custom");
        Press(dialog, "OK");
    });
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.DeviceControl().baudRate, 9600);
    EXPECT_EQ(a.Speed(), B9600);
}

TEST_F(SetupDialogTest, OkWithANewNameReopensThePortThereBeforeTheLineSettingsReachIt) {
    port.Open();
    std::vector<std::string> opened;
    std::vector<TBaudRate> rateAtOpen;
    port.OnAfterOpen = [&](TComponent*) {
        opened.push_back(port.Port());
        rateAtOpen.push_back(port.BaudRate());
    };
    int closed = 0;
    port.OnAfterClose = [&](TComponent*) { ++closed; };
    Run([&](TComSetupFrm& dialog) {
        Choose(Combo(dialog, 1), QString::fromStdString(b.path));
        Choose(Combo(dialog, 2), "19200");
        Choose(Combo(dialog, 3), "7");
        Choose(Combo(dialog, 4), "2");
        Choose(Combo(dialog, 5), "Odd");
        Choose(Combo(dialog, 6), "Software");
        Press(dialog, "OK");
    });
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(opened, std::vector<std::string>{b.path});
    EXPECT_EQ(rateAtOpen, std::vector<TBaudRate>{br115200});
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.BaudRate(), br19200);
    EXPECT_EQ(port.DataBits(), dbSeven);
    EXPECT_EQ(port.StopBits(), sbTwoStopBits);
    EXPECT_EQ(port.Parity().Bits(), prOdd);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);
    EXPECT_EQ(b.Speed(), B19200);
}

// OK used to set an unlisted port's name to the empty text, closing the port for good.
TEST_F(SetupDialogTest, OkLeavesAPortWhoseNameIsNotListedOpenWhereItIs) {
    TPty unlisted;
    port.SetPort(unlisted.path);
    port.Open();
    Run([&](TComSetupFrm& dialog) {
        EXPECT_EQ(Combo(dialog, 1).currentIndex(), -1);
        Choose(Combo(dialog, 2), "57600");
        Press(dialog, "OK");
    });
    EXPECT_EQ(port.Port(), unlisted.path);
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.BaudRate(), br57600);
}

TEST_F(SetupDialogTest, APortListThatCannotBeReadRaisesRegistryErrorAndShowsNoDialog) {
    SetPortSource([]() -> std::vector<std::string> {
        throw std::system_error(EACCES, std::generic_category());
    });
    try {
        ShowSettingsDialog(port);
        ADD_FAILURE() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), ceRegError);
    }
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

class ComSettingsInTheWindowTest : public BenchTest {};

TEST_F(ComSettingsInTheWindowTest, ComSettingsOpensTheDialogOnTheCurrentPort) {
    StartBench();
    SetPortSource([this] { return std::vector<std::string>{simulator->PortPath()}; });
    Connect();
    TComPort* current = Form().CurrentPort();
    ASSERT_EQ(current, Form().tmp().Port());
    bool shown = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<TComSetupFrm*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        shown = true;
        EXPECT_EQ(dialog->findChild<TComComboBox*>("Combo1")->Text(), simulator->PortPath());
        EXPECT_EQ(dialog->findChild<TComComboBox*>("Combo2")->Text(), "115200");
        EXPECT_EQ(dialog->findChild<TComComboBox*>("Combo6")->Text(), "Hardware");
        QTest::mouseClick(dialog->findChild<QPushButton*>("Cancel"), Qt::LeftButton);
    });
    Click("Com Settings");
    EXPECT_TRUE(shown);
    EXPECT_TRUE(current->Connected());
}

}  // namespace
}  // namespace wct::test
