#include "Session.h"

#include <ostream>

int RunSession(const CommandLine&, std::ostream& out)
{
    out.flush();
    return 0;
}
