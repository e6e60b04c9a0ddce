// voskel-look: makes the looks at a user's folders for the application, one at a time, so that a folder
// on a mount that stalls holds up this small process rather than the application's own (which could
// then neither end nor close its window).
//
//   voskel-look --parent PID
//
// Started by the application alone (platform/LookServers.cpp); it reads requests on its standard input
// and answers on its standard output until its input ends.
#include "engine/ProjectLooks.h"
#include "engine/VolumeData.h"
#include "look/LookBudget.h"
#include "platform/FolderLooks.h"

int main(int argc, char** argv)
{
    // Every operation the application may ask for, each layer's own.
    Platform::LookTable table = Platform::Looks::operations();
    table.insert(Docker::Looks::operations());
    table.insert(Docker::Looks::volumeOperations());
    return Platform::runLookServer(argc, argv, table, &LookBudget::spent);
}
