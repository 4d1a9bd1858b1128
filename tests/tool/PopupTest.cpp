// The tool's table of conversions against the popup the built module adds at parameter setup:
// the tool names conversions without asking the module, so this is where a renamed, added or
// reordered entry shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Host/OmbrelHost.h"
#include "Modes.h"

namespace {

std::vector<std::string> entries(const std::string& names) {
    std::vector<std::string> list;
    std::size_t from = 0;
    for (std::size_t bar; (bar = names.find('|', from)) != std::string::npos; from = bar + 1)
        list.push_back(names.substr(from, bar - from));
    list.push_back(names.substr(from));
    return list;
}

} // namespace

TEST(Popup, TheToolsConversionsAreTheModulesEntriesInOrder) {
    OmbrelHost::Host host;
    OmbrelHost::Effect effect(host, OmbrelHost::Module::load(OMBREL_MODULE_PATH));
    ASSERT_EQ(effect.globalSetup().err, PF_Err_NONE);
    ASSERT_EQ(effect.paramsSetup().err, PF_Err_NONE);
    const std::vector<OmbrelHost::ParamRecord> params = effect.params();
    ASSERT_EQ(params.size(), 1u);
    const PF_ParamDef& popup = params[0].def;
    ASSERT_EQ(popup.param_type, PF_Param_POPUP);
    EXPECT_EQ(popup.u.pd.num_choices, OmbrelRender::kModeCount);

    const std::vector<std::string> names = entries(params[0].popupNames);
    ASSERT_EQ(names.size(), OmbrelRender::kModes.size()) << params[0].popupNames;
    // Popup value v selects entry v - 1.
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(OmbrelRender::modeName(static_cast<int>(i) + 1), names[i]) << "entry " << i;
    EXPECT_EQ(effect.globalSetdown().err, PF_Err_NONE);
}
