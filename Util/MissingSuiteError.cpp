#include "Util/AEGP_SuiteHandler.h"

void AEGP_SuiteHandler::MissingSuiteError() const {
    throw static_cast<PF_Err>(PF_Err_BAD_CALLBACK_PARAM);
}
