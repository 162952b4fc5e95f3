#include "host/app/Folders.h"

#include <cstdlib>

std::filesystem::path Folder(const char* variable, const char* builtIn) {
    if (const char* fromEnvironment = std::getenv(variable);
        fromEnvironment != nullptr && *fromEnvironment != '\0') {
        return fromEnvironment;
    }
    return builtIn;
}

std::filesystem::path ResourceDirectory() {
    return Folder("BREVAN_RESOURCES", BREVAN_RESOURCE_DIR);
}

std::filesystem::path SystemMotorDatabaseFile() {
    return ResourceDirectory() / kSystemMotorDatabase;
}

std::filesystem::path ProgramsDirectory() {
    return Folder("BREVAN_PROGRAMS", BREVAN_PROGRAMS_DIR);
}
