#include "appargs.h"

AppArgs::AppArgs(int argc, char** argv)
    : m_values(argv, argv + argc)
    , m_count(argc + 1)
{
    static char nograb[] = "-nograb";
    m_values.push_back(nograb);
    m_values.push_back(nullptr);
}
