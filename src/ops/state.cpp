// A package's state as a number: the state word of its last patch looked up
// in livepatch_state_info.
#include <cstring>

#include "frame/log.h"
#include "kernel/consistency.h"
#include "kernel/record.h"
#include "sys/wait_budget.h"
#include "tesvar.h"

extern "C" TESVAR_API const livepatch_state_entry livepatch_state_info[TESVAR_STATE_INFO_SIZE] = {
    {2, tesvar::STATE_DISABLED},
    {5, tesvar::STATE_ENABLED},
    {0, tesvar::STATE_UNKNOWN},
};

namespace tesvar {

namespace {

constexpr int32_t NO_VALID_STATE = 9;

}  // namespace

}  // namespace tesvar

extern "C" TESVAR_API int32_t navo_lkp_state(const char *pkg_name) {
    using tesvar::LKP_ERR;
    using tesvar::lkp_log;
    const tesvar::CallBudget budget;
    if (pkg_name == nullptr) {
        lkp_log(LKP_ERR, "LKP-STATE: The input parameter is NULL.");
        return tesvar::NO_VALID_STATE;
    }
    char state[tesvar::STATE_SIZE] = {};
    if (tesvar::check_record_available(pkg_name, state) != 0) {
        lkp_log(LKP_ERR, "LKP-STATE: The record is not the same.");
        return tesvar::NO_VALID_STATE;
    }
    for (const livepatch_state_entry &entry : livepatch_state_info) {
        if (std::strncmp(state, entry.word, tesvar::STATE_SIZE) == 0) {
            return entry.state;
        }
    }
    return tesvar::NO_VALID_STATE;
}
