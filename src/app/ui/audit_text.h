#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "core/workflow/audit.h"

namespace zentrowe::app {

// "警告" for a warning: the severity as the window names it.
QString auditSeverityText(workflow::AuditSeverity severity);

// What a release-checklist item is about, in the window's words ("缺少谱面信息").
QString auditCheckText(workflow::AuditCheck check);

// The audit's findings a line each, most severe first: "警告  ode_A.bms：缺少谱面信息（#ARTIST is
// missing）", the checker's own sentence, with its figures, in brackets. Notices are left out
// unless `withNotices`.
QStringList auditLines(const std::vector<workflow::AuditFinding>& findings, bool withNotices);

}  // namespace zentrowe::app
