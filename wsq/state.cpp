#include "wsq/state.h"

namespace tsl {

WsqState g_wsq;

}  // namespace tsl
