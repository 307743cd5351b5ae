// HTTP routes of the scope page. The page's files are read once at start and
// served from memory. Records go to the browsers as binary frames: a
// little-endian u32 header length, a JSON header (settings, measurements,
// marks), padding to 4 bytes, then float32 volts per channel (NaN where no
// sample), thinned by min/max pairs when the record is long. Requests are
// bounded and checked in front of the library (http_front.h); every refusal
// is an HTTP error.
#include "page.h"

#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "../csv.h"
#include "../failure.h"
#include "../record_files.h"
#include "../thin.h"
#include "http_front.h"
#include "snapshot.h"
#include "ru3/ru3.h"

namespace ru3serve {
namespace {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;
constexpr std::size_t kMostPoints = 4000;  // points per trace sent to a browser
constexpr std::size_t kMostBody = 64 * 1024;
constexpr auto kLease = std::chrono::seconds(15);

json SettingsJson(const Settings& s) {
  json channels = json::array();
  for (std::size_t k = 0; k < 2; ++k) {
    channels.push_back({{"on", s.on[k]},
                        {"range", s.range[k]},
                        {"auto", s.autorange[k]},
                        {"coupling", s.coupling[k] == RU3_COUPLING_AC ? "ac" : "dc"},
                        {"probe", s.probe[k]},
                        {"dac", s.dac[k]},
                        {"motor", s.motor[k]}});
  }
  return {{"channels", channels},
          {"rate", s.rate},
          {"length", s.length},
          {"pre", s.pre},
          {"source", s.source == RU3_TRIG_CH1 ? "ch1" : s.source == RU3_TRIG_CH2 ? "ch2" : "none"},
          {"level", s.level},
          {"hysteresis", s.hysteresis},
          {"kind", s.kind},
          {"timeout", s.timeout_ms},
          {"state", s.state}};
}

json Finite(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

// Min/max pairs over buckets of `bucket` positions (NaN for a bucket without
// a sample): the shape of a long record survives thinning.
std::vector<float> Thin(const std::vector<double>& volts, std::size_t bucket) {
  std::vector<float> out;
  if (bucket <= 1) {
    out.assign(volts.begin(), volts.end());
    return out;
  }
  out.reserve(2 * (volts.size() / bucket + 1));
  for (std::size_t start = 0; start < volts.size(); start += bucket) {
    const ru3cli::Extent e = ru3cli::ExtentOf(volts, start, std::min(start + bucket, volts.size()));
    out.push_back(e.any ? static_cast<float>(e.lo) : NAN);
    out.push_back(e.any ? static_cast<float>(e.hi) : NAN);
  }
  return out;
}

std::string EncodeFrame(const Frame& frame, json extra) {
  const std::size_t length = frame.traces.empty() ? 0 : frame.traces.front().volts.size();
  const std::size_t bucket = length > kMostPoints ? (2 * length + kMostPoints - 1) / kMostPoints : 1;
  std::vector<std::vector<float>> points;
  json traces = json::array();
  for (const Frame::Trace& trace : frame.traces) {
    points.push_back(Thin(trace.volts, bucket));
    const auto& m = trace.summary;
    traces.push_back({{"channel", trace.number},
                      {"range", trace.range},
                      {"clipped", trace.clipped},
                      {"missing", m.missing},
                      {"min", Finite(m.min)},
                      {"max", Finite(m.max)},
                      {"mean", Finite(m.mean)},
                      {"rms", Finite(m.rms)},
                      {"pp", Finite(m.peak_to_peak)},
                      {"frequency", m.frequency ? json(*m.frequency) : json(nullptr)}});
  }
  const double dt = bucket > 1 ? static_cast<double>(bucket) / 2 / frame.rate : 1 / frame.rate;
  extra["seq"] = frame.seq;
  extra["forced"] = frame.forced;
  extra["rate"] = frame.rate;
  extra["pre"] = frame.pre_samples;
  extra["length"] = length;
  extra["points"] = points.empty() ? 0 : points.front().size();
  extra["t0"] = -static_cast<double>(frame.pre_samples) / frame.rate;
  extra["dt"] = dt;
  extra["traces"] = traces;
  extra["settings"] = SettingsJson(frame.settings);
  std::string header = extra.dump();
  while ((header.size() + 4) % 4 != 0) header += ' ';
  std::string body(4, '\0');
  const auto n = static_cast<std::uint32_t>(header.size());
  for (int i = 0; i < 4; ++i) body[static_cast<std::size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xFF);
  body += header;
  for (const auto& trace : points) body.append(reinterpret_cast<const char*>(trace.data()), trace.size() * 4);
  return body;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool SameToken(const std::string& given, const std::string& token) {
  unsigned diff = given.size() == token.size() ? 0 : 1;
  for (std::size_t i = 0; i < given.size() && i < token.size(); ++i) diff |= given[i] ^ token[i];
  return diff == 0;
}

void Refuse(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(json{{"error", message}}.dump(), "application/json");
}

Value ValueOfJson(const json& v) {
  if (v.is_boolean()) return v.get<bool>() ? 1.0 : 0.0;
  if (v.is_number()) return v.get<double>();
  if (v.is_string()) return v.get<std::string>();
  return std::string("?");
}

}  // namespace

struct PageServer::Impl {
  Engine& engine;
  PageOptions options;
  Router server;
  std::unique_ptr<HttpFront> front;
  struct File {
    std::string content, type;
  };
  std::map<std::string, File> files;
  std::mutex control_mutex;
  std::string controller;
  Clock::time_point controller_seen;

  Impl(Engine& e, PageOptions o) : engine(e), options(std::move(o)) {}

  // "control" when `client` controls (or may take control at once), else "view".
  std::string Role(const std::string& client, bool take) {
    std::lock_guard<std::mutex> lock(control_mutex);
    const auto now = Clock::now();
    const bool free = controller.empty() || now - controller_seen > kLease;
    if (!client.empty() && (take || free || controller == client)) {
      controller = client;
      controller_seen = now;
      return "control";
    }
    return "view";
  }
  std::string Peek(const std::string& client) {
    std::lock_guard<std::mutex> lock(control_mutex);
    if (!client.empty() && client == controller) {
      controller_seen = Clock::now();
      return "control";
    }
    return controller.empty() || Clock::now() - controller_seen > kLease ? "free" : "view";
  }

  json Info(const std::string& client) {
    json ranges = engine.Ranges();
    return {{"ranges", ranges},
            {"max_rate", engine.MaxRate()},
            {"max_length", engine.MaxLength()},
            {"serial", engine.Serial()},
            {"fps", engine.FrameRate()},
            {"role", Peek(client)}};
  }

  bool Authorised(const httplib::Request& req, httplib::Response& res);
  void Routes();
  void Save(const httplib::Request& req, httplib::Response& res);
};

bool PageServer::Impl::Authorised(const httplib::Request& req, httplib::Response& res) {
  // Without a token the Host has been checked on the raw head (http_front.h).
  if (options.token.empty()) return true;
  // The page's own files hold nothing of the instrument; a browser fetches
  // its scripts without the token.
  if (req.path.rfind("/api/", 0) != 0) return true;
  const bool controlling = req.method != "GET" && req.method != "HEAD";
  if (!controlling && options.public_view) return true;
  std::string given = req.get_param_value("token");
  // "Bearer" in any case, as HTTP's scheme names are.
  const std::string authorization = req.get_header_value("Authorization");
  if (authorization.size() > 7 && strncasecmp(authorization.c_str(), "bearer ", 7) == 0) {
    const std::size_t start = authorization.find_first_not_of(' ', 7);
    given = start == std::string::npos ? "" : authorization.substr(start);
  }
  if (!SameToken(given, options.token)) {
    Refuse(res, 401, "a token is needed: open the page as /?token=...");
    return false;
  }
  return true;
}

void PageServer::Impl::Save(const httplib::Request& req, httplib::Response& res) {
  const std::string format = req.get_param_value("format");
  auto frame = req.has_param("seq") ? engine.Find(std::strtoull(req.get_param_value("seq").c_str(), nullptr, 10))
                                    : engine.Latest();
  if (!frame) frame = engine.Latest();
  if (!frame) return Refuse(res, 404, "no record yet");
  const ru3cli::Record record = frame->ToRecord();
  const std::string name = "ru3-" + std::to_string(frame->seq);
  if (format == "csv") {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&data, &size);
    if (!out) return Refuse(res, 500, "out of memory");
    try {
      ru3cli::WriteCsv(out, record, name + ".csv");
    } catch (const std::exception& e) {
      std::fclose(out);
      std::free(data);
      return Refuse(res, 500, e.what());
    }
    std::fclose(out);
    res.set_content(std::string(data, size), "text/csv");
    std::free(data);
  } else if (format == "png") {
    try {
      res.set_content(PlotPng(*frame, {1000, 600}), "image/png");
    } catch (const std::exception& e) {
      return Refuse(res, 500, e.what());
    }
  } else if (format == "sr") {
    try {
      res.set_content(ru3cli::SigrokSession(record), "application/zip");
    } catch (const std::exception& e) {
      return Refuse(res, 500, e.what());
    }
  } else {
    return Refuse(res, 400, "format: csv, png or sr");
  }
  res.set_header("Content-Disposition", "attachment; filename=\"" + name + "." + format + "\"");
}

void PageServer::Impl::Routes() {
  server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    return Authorised(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                : httplib::Server::HandlerResponse::Handled;
  });
  server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
    std::string what = "internal error";
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    Refuse(res, 500, what);
  });
  for (const auto& [path, file] : files) {
    server.Get(path, [&file = file](const httplib::Request&, httplib::Response& res) {
      res.set_header("Cache-Control", "no-cache");
      res.set_content(file.content, file.type);
    });
  }
  server.Get("/api/state", [this](const httplib::Request& req, httplib::Response& res) {
    json state = Info(req.get_param_value("client"));
    state["settings"] = SettingsJson(engine.Current());
    res.set_content(state.dump(), "application/json");
  });
  // Long poll: answers as soon as a record newer than `after` exists, or
  // after a second with the latest one.
  server.Get("/api/frame", [this](const httplib::Request& req, httplib::Response& res) {
    const std::uint64_t after = std::strtoull(req.get_param_value("after").c_str(), nullptr, 10);
    const auto frame = engine.WaitFrame(after, 0, std::chrono::milliseconds(1000));
    if (!frame) return Refuse(res, 503, "no record yet");
    res.set_header("Cache-Control", "no-store");
    res.set_content(EncodeFrame(*frame, Info(req.get_param_value("client"))), "application/octet-stream");
  });
  server.Post("/api/control", [this](const httplib::Request& req, httplib::Response& res) {
    if (req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
      return Refuse(res, 415, "send JSON");
    }
    const json body = json::parse(req.body, nullptr, /*allow_exceptions=*/false);
    if (!body.is_object() || !body.contains("client") || !body["client"].is_string()) {
      return Refuse(res, 400, "expected {\"client\": id, \"set\": [[key, value], ...]}");
    }
    const std::string client = body["client"].get<std::string>();
    const bool take = body.value("take", false);
    if (Role(client, take) != "control") return Refuse(res, 409, "another browser has control");
    json errors = json::array();
    if (body.contains("set")) {
      const json& set = body["set"];
      if (!set.is_array() || set.size() > 32) return Refuse(res, 400, "set: up to 32 [key, value] pairs");
      for (const json& pair : set) {
        if (!pair.is_array() || pair.size() != 2 || !pair[0].is_string()) {
          errors.push_back("malformed pair");
          continue;
        }
        const Error error = engine.Apply(pair[0].get<std::string>(), ValueOfJson(pair[1]));
        if (error) errors.push_back(error.message);
      }
    }
    json answer = Info(client);
    answer["errors"] = errors;
    answer["settings"] = SettingsJson(engine.Current());
    res.status = errors.empty() ? 200 : 422;
    res.set_content(answer.dump(), "application/json");
  });
  server.Get("/api/save", [this](const httplib::Request& req, httplib::Response& res) { Save(req, res); });
}

PageServer::PageServer(Engine& engine, PageOptions options, const Listening& listening)
    : impl_(std::make_unique<Impl>(engine, options)) {
  const std::string& dir = impl_->options.web_dir;
  struct Source {
    const char *route, *path, *type;
  };
  const Source page[] = {
      {"/", "index.html", "text/html; charset=utf-8"},
      {"/app.js", "app.js", "text/javascript; charset=utf-8"},
      {"/axes.js", "axes.js", "text/javascript; charset=utf-8"},
      {"/app.css", "app.css", "text/css; charset=utf-8"},
      {"/uPlot.iife.min.js", "node_modules/uplot/dist/uPlot.iife.min.js", "text/javascript; charset=utf-8"},
      {"/uPlot.min.css", "node_modules/uplot/dist/uPlot.min.css", "text/css; charset=utf-8"},
  };
  for (const Source& source : page) {
    std::string content = ReadFile(dir + "/" + source.path);
    if (content.empty()) {
      throw ru3cli::Failure("the page's file " + dir + "/" + source.path +
                            " is missing (run: npm ci --prefix tools/ru3/web, or give --web DIR)");
    }
    impl_->files[source.route] = {std::move(content), source.type};
  }
  impl_->Routes();
  Router& server = impl_->server;
  server.set_payload_max_length(kMostBody);
  server.set_keep_alive_timeout(5);
  server.set_keep_alive_max_count(100);
  server.set_default_headers(SecurityHeaders());
  HeadRules rules;
  rules.most_body = kMostBody;
  if (impl_->options.token.empty()) {
    // Without a token the server listens on loopback only; a browser page
    // from elsewhere must still not reach it through a name that resolves
    // here (DNS rebinding): only loopback names are accepted as Host.
    const std::string& address = impl_->options.address;
    rules.hosts = {"127.0.0.1", "localhost", "[::1]",
                   address.find(':') != std::string::npos ? "[" + address + "]" : address};
  }
  impl_->front = std::make_unique<HttpFront>(server, listening, std::move(rules));
}

PageServer::~PageServer() { Stop(); }

void PageServer::Stop() {
  if (impl_->front) impl_->front->Stop();
}

}  // namespace ru3serve
