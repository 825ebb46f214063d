#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "core/workflow/audit.h"
#include "core/workflow/build_findings.h"

namespace zentrowe::app {

// One line of the window's list of a build's findings: the words, how many times the same
// words came, and the code they are about (one of the two, the other empty).
struct FindingRow {
    QString text;
    int times = 1;
    std::optional<workflow::FindingCode> code;  // a finding of the build
    std::optional<workflow::AuditCheck> check;  // a finding of the release check
};

// A build finding's sentence in Chinese, with its figures.
QString findingSentence(const workflow::Finding& finding);

// Every finding of a build, then the release check's errors, warnings and notices, each in
// Chinese; a line said alike more than once is one row with its count.
std::vector<FindingRow> findingRows(const std::vector<workflow::Finding>& findings,
                                    const std::vector<workflow::AuditFinding>& audit);

// The result line's part for the findings: each kind once with its count ("2 个K音无声，12 个音符
// 未放入谱面", "发布检查 1 个错误、3 个警告"), in the order the build found them.
QStringList findingSummary(const std::vector<workflow::Finding>& findings,
                           const std::vector<workflow::AuditFinding>& audit);

}  // namespace zentrowe::app
