#include "app/ui/passes/event_listing_pass.h"

#include "core/song/event_listing.h"

namespace zentrowe::app {

namespace {

class TableRows final : public song::EventRowSink {
public:
    void addRow(std::string_view delta, std::string_view label, std::string_view description) override
    {
        table.appendRow({delta, label, description});
    }
    TextTable table{3};
};

}  // namespace

EventListingPass::Output EventListingPass::operator()(ProgressSink& progress) const
{
    TableRows rows;
    Status listed = song::listTrackEvents(m_midiFile, m_song, m_trackNumber, rows, progress);
    return Output(std::move(listed), std::move(rows.table));
}

}  // namespace zentrowe::app
