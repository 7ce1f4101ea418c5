#include "launcher/process_state.h"

namespace qnvpd {

ProcessState g_state;

}  // namespace qnvpd
