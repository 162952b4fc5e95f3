#include "host/kernel/CoffFormat.h"

#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/kernel/CaseInsensitive.h"
#include "host/kernel/Comm.h"
#include "host/kernel/ErrorReport.h"
#include "host/kernel/Loggers.h"

namespace {

// Program files are named after the program.
constexpr const char* kProgramFileExtension = ".json";

std::filesystem::path& ProgramsDirectory() {
    static std::filesystem::path directory;
    return directory;
}

// The program image the active drive runs, so that its variables are read on the drive; only
// compared, never followed.
const CQel_CoffFormat* g_programOnDrive = nullptr;

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

}  // namespace

CQel_CoffFormat::~CQel_CoffFormat() {
    if (g_programOnDrive == this) {
        g_programOnDrive = nullptr;
    }
}

void CQel_CoffFormat::SetProgramsDirectory(std::filesystem::path directory) {
    ProgramsDirectory() = std::move(directory);
}

const std::filesystem::path& CQel_CoffFormat::GetProgramsDirectory() {
    return ProgramsDirectory();
}

std::string CQel_CoffFormat::GetOutPathName(std::string_view programName) {
    if (programName.empty() || programName.find_first_of("/\\") != std::string_view::npos) {
        return {};
    }
    const std::filesystem::path path =
        ProgramsDirectory() / (std::string(programName) + kProgramFileExtension);
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) ? path.string() : std::string();
}

int CQel_CoffFormat::ReadCoff() {
    loaded_ = false;
    image_ = {};
    auto fail = [this](const std::string& why) {
        lastError_ = "Cannot read the program file " + Quoted(fileName_) + ": " + why;
        qel::ReportError(lastError_);
        return 0;
    };
    std::ifstream file(fileName_);
    if (fileName_.empty() || !file) {
        return fail("no such file.");
    }
    std::stringstream text;
    text << file.rdbuf();
    const nlohmann::json document = nlohmann::json::parse(text.str(), nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        return fail("it is not a JSON object.");
    }
    const auto name = document.find("name");
    const auto entry = document.find("entry");
    const auto variables = document.find("variables");
    if (name == document.end() || !name->is_string() || name->get<std::string>().empty()) {
        return fail("\"name\" must be a non-empty text.");
    }
    if (entry == document.end() || !entry->is_string()) {
        return fail("\"entry\" must be a text.");
    }
    if (variables == document.end() || !variables->is_array()) {
        return fail("\"variables\" must be a list.");
    }
    qel::ProgramImage image{name->get<std::string>(), entry->get<std::string>(), {}};
    for (const nlohmann::json& variable : *variables) {
        const auto variableName = variable.is_object() ? variable.find("name") : variable.end();
        const auto initial = variable.is_object() ? variable.find("initial") : variable.end();
        if (variableName == variable.end() || !variableName->is_string() ||
            initial == variable.end() || !initial->is_number()) {
            return fail("every variable needs a \"name\" text and an \"initial\" number.");
        }
        image.variables.emplace_back(variableName->get<std::string>(), initial->get<double>());
    }
    image_ = std::move(image);
    loaded_ = true;
    lastError_.clear();
    return 1;
}

bool CQel_CoffFormat::IsOnDrive() const {
    return g_programOnDrive == this;
}

std::pair<std::string, double>* CQel_CoffFormat::FindSymbol(std::string_view name) {
    for (auto& symbol : image_.variables) {
        if (qel::EqualsIgnoringCase(symbol.first, name)) {
            return &symbol;
        }
    }
    return nullptr;
}

int CQel_CoffFormat::SetUserVariableValue(std::string_view name, double value,
                                          std::string& errorText) {
    std::pair<std::string, double>* symbol = FindSymbol(name);
    if (symbol == nullptr) {
        errorText = "The program " + Quoted(image_.name) + " has no variable " + Quoted(name) + ".";
        return 0;
    }
    if (IsOnDrive()) {
        qel::DriveLink* link = CQel_Comm::GetActiveLink();
        if (link == nullptr || !link->WriteProgramVariable(image_.name, symbol->first, value)) {
            errorText = CQel_Comm::GetLastErrorText();
            return 0;
        }
    }
    symbol->second = value;
    return 1;
}

int CQel_CoffFormat::GetUserVariableValue(std::string_view name, double& value,
                                          std::string& errorText) {
    const std::pair<std::string, double>* symbol = FindSymbol(name);
    if (symbol == nullptr) {
        errorText = "The program " + Quoted(image_.name) + " has no variable " + Quoted(name) + ".";
        return 0;
    }
    if (!IsOnDrive()) {
        value = symbol->second;
        return 1;
    }
    qel::DriveLink* link = CQel_Comm::GetActiveLink();
    if (link == nullptr || !link->ReadProgramVariable(image_.name, symbol->first, value)) {
        errorText = CQel_Comm::GetLastErrorText();
        return 0;
    }
    return 1;
}

int CQel_CoffFormat::ExecuteCode(std::string_view programName, CQel_CoffFormat* program,
                                 CQel_Logger* logger, ProgressCallback callback, void* data) {
    std::unique_ptr<CQel_CoffFormat> foundByName;
    if (program == nullptr) {
        foundByName = std::make_unique<CQel_CoffFormat>();
        foundByName->SetFileName(GetOutPathName(programName));
        if (foundByName->GetFileName().empty()) {
            qel::ReportError("There is no program " + Quoted(programName) + " in " +
                             Quoted(ProgramsDirectory().string()) + ".");
            return 0;
        }
        foundByName->ReadCoff();
        program = foundByName.get();
    }
    if (!program->IsLoaded()) {
        qel::ReportError("The program " + Quoted(programName) + " was not read, so not started.");
        return 0;
    }
    qel::DriveLink* link = CQel_Comm::GetActiveLink();
    if (link == nullptr) {
        qel::ReportError("No drive is connected: the program " + Quoted(programName) +
                         " was not started.");
        return 0;
    }
    const qel::LogSettings* log = logger == nullptr ? nullptr : &logger->GetSettings();
    if (!link->DownloadAndStart(program->image_, log)) {
        qel::ReportError("Starting the program " + Quoted(programName) +
                         " failed: " + link->LastError());
        return 0;
    }
    // A program found by name alone is not kept: its variables stay out of reach.
    g_programOnDrive = foundByName ? nullptr : program;
    if (logger != nullptr) {
        logger->OnProgramStarted();
    }
    if (callback != nullptr) {
        constexpr int kDone_percent = 100;
        callback(kDone_percent, data);
    }
    return 1;
}
