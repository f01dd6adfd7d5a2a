#include "programmer_access.h"

namespace qs71prog {

std::vector<ProgrammerNode> FindProgrammers() { return {}; }

}  // namespace qs71prog
