#include "Platform/Linux/Pulse/PulseSources.h"

#include "Platform/Error.h"

#include <pulse/error.h>
#include <pulse/introspect.h>

#include <set>

namespace Platform::Linux::Pulse {

namespace {

SourceDescription describe(const pa_source_info& info) {
  SourceDescription source;
  source.name = info.name != nullptr ? info.name : "";
  source.description = info.description != nullptr ? info.description : source.name;
  source.sampleRate = info.sample_spec.rate;
  source.channelCount = info.sample_spec.channels;
  source.channelMap = info.channel_map;
  source.isMonitor = info.monitor_of_sink != PA_INVALID_INDEX;
  source.monitoredSink = info.monitor_of_sink;
  return source;
}

// Collects the entries of one introspection request on the main loop's thread.
struct SourceQuery {
  std::vector<SourceDescription> sources;

  static void receive(pa_context*, const pa_source_info* info, int endOfList, void* userdata) {
    auto* query = static_cast<SourceQuery*>(userdata);
    if (endOfList == 0 && info != nullptr) {
      query->sources.push_back(describe(*info));
    }
  }
};

[[noreturn]] void throwUnanswered(const Connection& connection, const std::string& request)
    REQUIRES(connection) {
  throw SystemError(ErrorDomain::mediaCapture, pa_context_errno(connection.context()),
                    "The audio server did not answer " + request + ": " + connection.lastError());
}

} // namespace

std::vector<SourceDescription> inputSources(const std::vector<SourceDescription>& sources) {
  std::vector<SourceDescription> inputs;
  std::set<std::string> names;
  for (const auto& source : sources) {
    if (!source.isMonitor && !source.name.empty() && names.insert(source.name).second) {
      inputs.push_back(source);
    }
  }
  return inputs;
}

std::vector<SourceDescription> listSources(const Connection& connection) {
  SourceQuery query;
  const Connection::Lock lock(connection);
  if (!connection.await(
          pa_context_get_source_info_list(connection.context(), &SourceQuery::receive, &query),
          requestTimeout)) {
    throwUnanswered(connection, "the list of sources");
  }
  return std::move(query.sources);
}

std::optional<SourceDescription> findSource(const Connection& connection, const std::string& name) {
  SourceQuery query;
  const Connection::Lock lock(connection);
  const bool answered =
      connection.await(pa_context_get_source_info_by_name(connection.context(), name.c_str(),
                                                          &SourceQuery::receive, &query),
                       requestTimeout);
  // An unknown name ends the request with "no such entity", not with silence.
  if (!answered && pa_context_errno(connection.context()) != PA_ERR_NOENTITY) {
    throwUnanswered(connection, "a source query");
  }
  if (query.sources.empty()) {
    return std::nullopt;
  }
  return query.sources.front();
}

SinkLatency sinkLatency(const Connection& connection, std::uint32_t sinkIndex) {
  SinkLatency latency;
  const Connection::Lock lock(connection);
  const bool answered = connection.await(
      pa_context_get_sink_info_by_index(
          connection.context(), sinkIndex,
          [](pa_context*, const pa_sink_info* info, int endOfList, void* userdata) {
            if (endOfList == 0 && info != nullptr) {
              auto& answer = *static_cast<SinkLatency*>(userdata);
              answer.current = static_cast<std::int64_t>(info->latency) * 1000;
              if ((info->flags & PA_SINK_DYNAMIC_LATENCY) != 0) {
                answer.configured = static_cast<std::int64_t>(info->configured_latency) * 1000;
              }
            }
          },
          &latency),
      requestTimeout);
  if (!answered && pa_context_errno(connection.context()) != PA_ERR_NOENTITY) {
    throwUnanswered(connection, "a sink query");
  }
  return latency;
}

std::string defaultSinkMonitorName(const Connection& connection) {
  struct Answer {
    std::string defaultSink;
    std::string monitor;
  } answer;
  const Connection::Lock lock(connection);
  const bool answered =
      connection.await(pa_context_get_server_info(
                           connection.context(),
                           [](pa_context*, const pa_server_info* info, void* userdata) {
                             if (info != nullptr && info->default_sink_name != nullptr) {
                               static_cast<Answer*>(userdata)->defaultSink =
                                   info->default_sink_name;
                             }
                           },
                           &answer),
                       requestTimeout);
  if (!answered) {
    throwUnanswered(connection, "the server information");
  }
  if (answer.defaultSink.empty()) {
    throw SystemError(ErrorDomain::mediaCapture, PA_ERR_NOENTITY,
                      "The audio server has no default output device");
  }
  connection.await(pa_context_get_sink_info_by_name(
                       connection.context(), answer.defaultSink.c_str(),
                       [](pa_context*, const pa_sink_info* info, int endOfList, void* userdata) {
                         if (endOfList == 0 && info != nullptr &&
                             info->monitor_source_name != nullptr) {
                           static_cast<Answer*>(userdata)->monitor = info->monitor_source_name;
                         }
                       },
                       &answer),
                   requestTimeout);
  // Servers name a sink's monitor after it; use that when the sink vanished
  // between the two requests, so the capture reports the missing source.
  return answer.monitor.empty() ? answer.defaultSink + ".monitor" : answer.monitor;
}

} // namespace Platform::Linux::Pulse
