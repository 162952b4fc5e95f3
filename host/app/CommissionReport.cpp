#include "host/app/CommissionReport.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

#include "host/app/TuningRun.h"
#include "host/kernel/GraphFiles.h"

namespace {

// A small style: readable type, ruled tables, the outcome in colour.
constexpr const char* kStyle = R"(body { font-family: sans-serif; max-width: 60em; margin: 2em auto;
  padding: 0 1em; color: #222; line-height: 1.4; }
h1, h2, h3 { font-weight: 600; }
table { border-collapse: collapse; margin: 0.5em 0 1.5em; }
th, td { border: 1px solid #ccc; padding: 0.25em 0.6em; text-align: left; vertical-align: top; }
th { background: #f3f3f3; }
td.number { text-align: right; font-variant-numeric: tabular-nums; }
.succeeded { color: #176d2c; font-weight: 600; }
.failed { color: #b00020; font-weight: 600; }
.skipped { color: #666; font-weight: 600; }
pre { white-space: pre-wrap; background: #f7f7f7; padding: 0.5em; margin: 0.25em 0; }
img { max-width: 100%; border: 1px solid #ddd; })";

std::string Number(double value, const char* format = "%.4g") {
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void WriteAxis(std::ostream& html, const CommissionRecord& record) {
    html << "<h2>Axis</h2>\n<table>\n"
         << "<tr><th>setup</th><td>" << qel::XmlEscaped(record.setupFile.string()) << "</td></tr>\n"
         << "<tr><th>drive</th><td>" << qel::XmlEscaped(record.setupDescription) << "</td></tr>\n"
         << "<tr><th>motor</th><td>" << qel::XmlEscaped(record.motorName) << " ("
         << qel::XmlEscaped(record.motorFile.string()) << ")</td></tr>\n"
         << "<tr><th>bench supply</th><td>" << Number(record.supply_V) << " V</td></tr>\n";
    if (record.fault) {
        html << "<tr><th>fault of the simulated drive</th><td>" << qel::XmlEscaped(*record.fault)
             << "</td></tr>\n";
    }
    html << "<tr><th>setup written</th><td>"
         << (record.savedTo ? qel::XmlEscaped(record.savedTo->string())
                            : std::string("none: the commissioning did not succeed"))
         << "</td></tr>\n"
         << "<tr><th>wall time</th><td>" << Number(record.wallTime_s, "%.1f") << " s</td></tr>\n"
         << "</table>\n";
}

void WriteChanges(std::ostream& html, const CommissionRecord& record) {
    html << "<h2>Parameters changed</h2>\n";
    if (record.changes.empty()) {
        html << "<p>None.</p>\n";
        return;
    }
    html << "<table>\n<tr><th>parameter</th><th>old</th><th>new</th><th>base unit</th>"
            "<th>old (display)</th><th>new (display)</th></tr>\n";
    for (const Proposal& change : record.changes) {
        const auto base = [](const ParameterValue& value) {
            return value.text ? qel::XmlEscaped(*value.text) : Number(value.base, "%.10g");
        };
        html << "<tr><td>" << qel::XmlEscaped(change.name) << "</td><td class=\"number\">"
             << base(change.before) << "</td><td class=\"number\">" << base(change.after)
             << "</td><td>" << qel::XmlEscaped(change.after.unit) << "</td><td class=\"number\">"
             << qel::XmlEscaped(change.before.display) << "</td><td class=\"number\">"
             << qel::XmlEscaped(change.after.display) << "</td></tr>\n";
    }
    html << "</table>\n";
}

void WriteProposals(std::ostream& html, const char* heading,
                    const std::vector<Proposal>& proposals) {
    if (proposals.empty()) {
        return;
    }
    html << "<p>" << heading << ":</p>\n<ul>\n";
    for (const Proposal& proposal : proposals) {
        html << "<li>" << qel::XmlEscaped(proposal.name) << ": "
             << qel::XmlEscaped(proposal.before.display) << " &rarr; "
             << qel::XmlEscaped(proposal.after.display) << "</li>\n";
    }
    html << "</ul>\n";
}

void WriteFigures(std::ostream& html, const StepRecord& step) {
    html << "<table>\n";
    for (const FigureLine& figure : FigureLines(step.figures)) {
        html << "<tr><th>" << figure.name << "</th><td class=\"number\">"
             << (figure.value ? Number(*figure.value) + figure.unit : "not measurable")
             << "</td></tr>\n";
    }
    html << "</table>\n";
    if (step.picture) {
        html << "<p><img src=\"" << qel::XmlEscaped(*step.picture) << "\" alt=\"the " << step.name
             << " step response\"></p>\n";
    }
}

void WriteStep(std::ostream& html, const StepRecord& step) {
    const char* outcome = OutcomeName(step.outcome);
    html << "<h3>" << qel::XmlEscaped(step.name) << ": <span class=\"" << outcome << "\">"
         << outcome << "</span> <small>(" << Number(step.wallTime_s, "%.2f")
         << " s)</small></h3>\n";
    if (step.error) {
        html << "<pre>" << qel::XmlEscaped(*step.error) << "</pre>\n<p>"
             << qel::XmlEscaped(step.hint) << "</p>\n";
    }
    if (!step.note.empty()) {
        html << "<p>" << qel::XmlEscaped(step.note) << "</p>\n";
    }
    WriteProposals(html, "Accepted", step.proposed);
    WriteProposals(html, "Current loop designed", step.currentLoopDesign);
    if (!step.statusLines.empty()) {
        html << "<p>The dialog showed: ";
        for (std::size_t i = 0; i < step.statusLines.size(); ++i) {
            html << (i == 0 ? "" : " &middot; ") << qel::XmlEscaped(step.statusLines[i]);
        }
        html << "</p>\n";
    }
    for (const std::string& message : step.messages) {
        html << "<pre>" << qel::XmlEscaped(message) << "</pre>\n";
    }
    if (step.isLoop && step.outcome == StepOutcome::Succeeded) {
        WriteFigures(html, step);
    }
}

}  // namespace

const char* OutcomeName(StepOutcome outcome) {
    switch (outcome) {
        case StepOutcome::Succeeded:
            return "succeeded";
        case StepOutcome::Failed:
            return "failed";
        case StepOutcome::Skipped:
            return "skipped";
    }
    return "failed";
}

bool Succeeded(const CommissionRecord& record) {
    for (const StepRecord& step : record.steps) {
        if (step.outcome == StepOutcome::Failed) {
            return false;
        }
    }
    return true;
}

std::string PictureName(const std::string& step) {
    return step + ".svg";
}

bool WriteCommissionReport(const std::filesystem::path& folder, const CommissionRecord& record) {
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         << "<title>Commissioning of " << qel::XmlEscaped(record.setupFile.filename().string())
         << "</title>\n<style>\n"
         << kStyle << "\n</style>\n</head>\n<body>\n<h1>Commissioning of "
         << qel::XmlEscaped(record.setupFile.filename().string()) << ": <span class=\""
         << (Succeeded(record) ? "succeeded\">succeeded" : "failed\">failed") << "</span></h1>\n";
    WriteAxis(html, record);
    WriteChanges(html, record);
    html << "<h2>Steps</h2>\n";
    for (const StepRecord& step : record.steps) {
        WriteStep(html, step);
    }
    html << "</body>\n</html>\n";

    const std::filesystem::path target = folder / "index.html";
    const std::filesystem::path partial = folder / ".index.html.partial";
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    file << html.str();
    file.close();
    std::error_code renamed;
    if (file) {
        std::filesystem::rename(partial, target, renamed);
    }
    if (!file || renamed) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        std::fprintf(stderr, "brevan: the report could not be written to %s\n",
                     target.string().c_str());
        return false;
    }
    return true;
}
