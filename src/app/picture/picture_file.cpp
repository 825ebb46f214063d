#include "app/picture/picture_file.h"

#include <QBuffer>
#include <QGuiApplication>
#include <optional>

#include "app/picture/chart_picture.h"
#include "core/base/atomic_file_writer.h"
#include "core/base/file_error.h"

namespace zentrowe::picture {

namespace {

// Qt's own notes on stderr ("XDG_RUNTIME_DIR not set") mean nothing to a user of the command
// line, who hears from it in its own sentences.
void dropQtMessages(QtMsgType, const QMessageLogContext&, const QString&)
{
}

// Fonts need a QGuiApplication; the command line has none and may run with no display at all.
class OffscreenApplication {
public:
    OffscreenApplication()
    {
        if (QCoreApplication::instance() == nullptr) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            m_previousHandler = qInstallMessageHandler(dropQtMessages);
            m_application.emplace(m_argc, m_argv);
        }
    }
    ~OffscreenApplication()
    {
        if (m_application) {
            m_application.reset();
            qInstallMessageHandler(m_previousHandler);
        }
    }
    OffscreenApplication(const OffscreenApplication&) = delete;
    OffscreenApplication& operator=(const OffscreenApplication&) = delete;

private:
    int m_argc = 1;
    char m_name[13] = "zentrowe-cli";
    char* m_argv[2] = {m_name, nullptr};
    QtMessageHandler m_previousHandler = nullptr;
    std::optional<QGuiApplication> m_application;
};

}  // namespace

Status writeChartPicture(const chart::ChartScore& score, const std::filesystem::path& out)
{
    const OffscreenApplication application;
    const QImage image = drawChartPicture(score);
    if (image.isNull()) {
        return Error{ErrorCode::InvalidSetting, "the chart's " + std::to_string(score.measureCount()) +
                                                    " measures are too many to draw in one picture"}
            .about("measures");
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        return fileError(ErrorCode::WriteFailed, out, "write", "the picture could not be encoded as PNG");
    }
    AtomicFileWriter writer(out, realFileSystem());
    if (auto opened = writer.open(); !opened) {
        return opened;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(png.constData());
    if (auto written = writer.write(std::span(bytes, static_cast<std::size_t>(png.size()))); !written) {
        return written;
    }
    return writer.commit();
}

}  // namespace zentrowe::picture
