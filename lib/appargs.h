#ifndef APPARGS_H
#define APPARGS_H

#include <vector>

// The arguments a program hands to its QApplication: its own, then
// "-nograb", so that the windowing layer never grabs keyboard or pointer
// (the camera starts the player while its own windows are up). The
// application keeps argc and argv for its whole life: this object must
// outlive it.
class AppArgs
{
public:
    AppArgs(int argc, char** argv);
    int& count() { return m_count; }
    char** values() { return m_values.data(); }

private:
    std::vector<char*> m_values;
    int m_count;
};

#endif
