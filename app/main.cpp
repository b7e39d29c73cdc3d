#include "app/ProgramStart.h"
#include "app/TApplication.h"

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    return ProgramStart::run();
}
