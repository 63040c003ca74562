// SPDX-License-Identifier: Apache-2.0
// The stored-form reader on any text, into a form holding a component with every kind of
// property and real components (a packet framer, a resistance map). Reading fails only
// with EStoredForm; what it accepted writes out as a text that reads back into a fresh
// form and writes out the same again.
#include <cstdint>
#include <string>

#include "common/stored_form.h"
#include "device/resistance_map.h"
#include "fuzz_check.h"
#include "serial/com_data_packet.h"

using namespace wct;

namespace {

constexpr const char* kModeNames[] = {"mdSlow", "mdFast", "mdOff"};

class TLimits : public TPersistent {
public:
    int64_t low = 0;
    bool strict = false;
    void DefineProperties(TPropertyList& p) override {
        p.AddInteger(
            "Low", [this] { return low; }, [this](int64_t v) { low = v; }, 0);
        p.AddBoolean(
            "Strict", [this] { return strict; }, [this](bool v) { strict = v; }, false);
    }
};

class TGadget : public TComponent {
public:
    using TComponent::TComponent;
    std::string ClassName() const override { return "TGadget"; }
    void DefineProperties(TPropertyList& p) override {
        p.AddInteger(
            "Count", [this] { return count_; }, [this](int64_t v) { count_ = v; }, 15000);
        p.AddString(
            "Text", [this] { return text_; }, [this](const std::string& v) { text_ = v; }, "COM1");
        p.AddEnum(
            "Mode", kModeNames, [this] { return mode_; }, [this](int v) { mode_ = v; }, 1);
        p.AddSet(
            "Modes", kModeNames, [this] { return modes_; }, [this](uint32_t v) { modes_ = v; }, 3);
        p.AddFloat(
            "Ratio", [this] { return ratio_; }, [this](double v) { ratio_ = v; }, 1.5);
        p.AddBoolean(
            "On", [this] { return on_; }, [this](bool v) { on_ = v; }, false);
        p.AddObject("Limits", limits_);
    }

private:
    int64_t count_ = 15000;
    std::string text_ = "COM1";
    int mode_ = 1;
    uint32_t modes_ = 3;
    double ratio_ = 1.5;
    bool on_ = false;
    TLimits limits_;
};

class TForm : public TComponent {
public:
    TForm() {
        SetName("Form1");
        (new TGadget(this))->SetName("Gadget1");
        (new TComDataPacket(this))->SetName("Framer1");
        (new TResistanceMap(this))->SetName("Map1");
    }
    std::string ClassName() const override { return "TForm"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TForm form;
    try {
        ReadComponent(text, form);
    } catch (const EStoredForm&) {
        return 0;
    }
    for (TComponent* c : form.Components()) FUZZ_CHECK(!c->Loading());
    const std::string written = WriteComponent(form);
    TForm again;
    try {
        ReadComponent(written, again);
    } catch (const EStoredForm& e) {
        std::fprintf(stderr, "written form does not read back: %s\n%s", e.what(), written.c_str());
        FUZZ_CHECK(false);
    }
    const std::string rewritten = WriteComponent(again);
    if (rewritten != written)
        std::fprintf(stderr, "written form reads back otherwise:\n%s---\n%s", written.c_str(),
                     rewritten.c_str());
    FUZZ_CHECK(rewritten == written);
    return 0;
}
