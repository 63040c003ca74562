// SPDX-License-Identifier: Apache-2.0
#include "common/stored_form.h"

#include <gtest/gtest.h>

namespace wct {
namespace {

constexpr const char* kModeNames[] = {"mdSlow", "mdFast", "mdOff"};
enum TMode { mdSlow, mdFast, mdOff };

class TSettings : public TPersistent {
public:
    int limit = 10;
    bool check = false;
    void DefineProperties(TPropertyList& p) override {
        p.AddInteger(
            "Limit", [this] { return limit; }, [this](int64_t v) { limit = int(v); }, 10);
        p.AddBoolean(
            "Check", [this] { return check; }, [this](bool v) { check = v; }, false);
    }
};

class TGadget : public TComponent {
public:
    using TComponent::TComponent;
    std::string ClassName() const override { return "TGadget"; }

    int timeOut = 15000;
    std::string text = "COM1";
    TMode mode = mdFast;
    uint32_t events = 0b011;
    double ratio = 1.5;
    TSettings settings;
    int loadedCalls = 0;
    bool loadingSeenBySetter = false;

    void DefineProperties(TPropertyList& p) override {
        p.AddInteger(
            "TimeOut", [this] { return timeOut; },
            [this](int64_t v) {
                timeOut = int(v);
                loadingSeenBySetter = Loading();
            },
            15000);
        p.AddString(
            "Text", [this] { return text; }, [this](const std::string& v) { text = v; }, "COM1");
        p.AddEnum(
            "Mode", kModeNames, [this] { return int(mode); }, [this](int v) { mode = TMode(v); },
            mdFast);
        p.AddSet(
            "Events", kModeNames, [this] { return events; }, [this](uint32_t v) { events = v; },
            0b011);
        p.AddFloat(
            "Ratio", [this] { return ratio; }, [this](double v) { ratio = v; }, 1.5);
        p.AddObject("Settings", settings);
    }
    void Loaded() override {
        TComponent::Loaded();
        ++loadedCalls;
    }
};

TEST(StoredForm, DefaultValuesAreNotWritten) {
    TGadget g;
    g.SetName("Gadget1");
    EXPECT_EQ(WriteComponent(g), "object Gadget1: TGadget\nend\n");
}

TEST(StoredForm, NonDefaultValuesSurviveAWriteAndARead) {
    TGadget source;
    source.SetName("Gadget1");
    source.timeOut = 250;
    source.text = std::string("a'b\r\n\0\xff", 7);
    source.mode = mdOff;
    source.events = 0b101;
    source.ratio = 0.1;
    source.settings.limit = -3;
    source.settings.check = true;
    const std::string form = WriteComponent(source);

    TGadget copy;
    copy.SetName("Gadget1");
    ReadComponent(form, copy);
    EXPECT_EQ(copy.timeOut, 250);
    EXPECT_EQ(copy.text, source.text);
    EXPECT_EQ(copy.mode, mdOff);
    EXPECT_EQ(copy.events, 0b101u);
    EXPECT_EQ(copy.ratio, 0.1);
    EXPECT_EQ(copy.settings.limit, -3);
    EXPECT_TRUE(copy.settings.check);
    EXPECT_EQ(WriteComponent(copy), form);
}

TEST(StoredForm, ReadingLeavesTheConstructorValueOfWhatIsAbsent) {
    TGadget g;
    g.timeOut = 777;  // as a constructor that differs from the declared default would
    ReadComponent("object Gadget1: TGadget\n  Mode = mdSlow\nend\n", g);
    EXPECT_EQ(g.timeOut, 777);
    EXPECT_EQ(g.mode, mdSlow);
}

TEST(StoredForm, SettersRunInTheLoadingStateAndLoadedRunsOnceAfterwards) {
    TGadget g;
    ReadComponent("object G: TGadget\n  TimeOut = 5\nend\n", g);
    EXPECT_TRUE(g.loadingSeenBySetter);
    EXPECT_EQ(g.loadedCalls, 1);
    EXPECT_FALSE(g.Loading());
}

TEST(StoredForm, NestedObjectsNameOwnedComponents) {
    TGadget form;
    form.SetName("Form1");
    auto* child = new TGadget(&form);
    child->SetName("Child");
    child->timeOut = 42;
    const std::string text = WriteComponent(form);
    EXPECT_NE(text.find("  object Child: TGadget\n    TimeOut = 42\n  end\n"), std::string::npos);

    TGadget again;
    auto* againChild = new TGadget(&again);
    againChild->SetName("Child");
    ReadComponent(text, again);
    EXPECT_EQ(againChild->timeOut, 42);
    EXPECT_EQ(againChild->loadedCalls, 1);
}

TEST(StoredFormErrors, UnknownPropertyIsRejectedByName) {
    TGadget g;
    g.SetName("Gadget1");
    try {
        ReadComponent("object Gadget1: TGadget\n  Speed = 3\nend\n", g);
        FAIL() << "no error";
    } catch (const EStoredForm& e) {
        EXPECT_STREQ(e.what(),
                     "Stored form, line 2: unknown property 'Speed' of Gadget1 (TGadget)");
    }
    EXPECT_FALSE(g.Loading());
}

TEST(StoredFormErrors, UnknownComponentAndBadValuesAreRejected) {
    TGadget g;
    EXPECT_THROW(ReadComponent("object G: TGadget\n  object Nope: TGadget\n  end\nend\n", g),
                 EStoredForm);
    EXPECT_THROW(ReadComponent("object G: TGadget\n  TimeOut = 12x\nend\n", g), EStoredForm);
    EXPECT_THROW(ReadComponent("object G: TGadget\n  Mode = mdNone\nend\n", g), EStoredForm);
    EXPECT_THROW(ReadComponent("object G: TGadget\n  Text = 'open\nend\n", g), EStoredForm);
    EXPECT_THROW(ReadComponent("object G: TGadget\n  Settings.Check = maybe\nend\n", g),
                 EStoredForm);
    EXPECT_THROW(ReadComponent("object G: TGadget\n  TimeOut = 1\n", g), EStoredForm);
    EXPECT_EQ(g.timeOut, 1);  // what was read before the fault is kept
}

TEST(StoredFormStrings, QuotingKeepsEveryByte) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(UnquoteString(QuoteString(all)), all);
    EXPECT_EQ(QuoteString("it's"), "'it''s'");
    EXPECT_EQ(QuoteString("A\r\n"), "'A'#13#10");
    EXPECT_EQ(QuoteString(""), "''");
    EXPECT_THROW(UnquoteString("#256"), std::invalid_argument);
}

}  // namespace
}  // namespace wct
