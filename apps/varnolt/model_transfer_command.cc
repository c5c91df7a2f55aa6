// varnolt model import | export: moves every model between the files of the
// data folder and the PostgreSQL database of [engine] postgresql. Each copy
// is read back and compared with its source, token by token, so a moved
// model scores every message as before.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "backends/postgres/connection.h"
#include "engine/file_model_backend.h"
#include "engine/model_copy.h"
#include "engine/postgres_model_backend.h"
#include "platform/names/data_layout.h"
#include "platform/text_files.h"
#include "varnolt/cli_errors.h"
#include "varnolt/commands.h"

namespace varnolt::cli {
namespace {

namespace fs = std::filesystem;

// Every model file of the data folder: users' databases and domains' shared models.
std::vector<std::string> ModelFiles(const std::string& data_folder) {
  std::vector<std::string> paths;
  std::error_code ec;
  for (const fs::directory_entry& domain : fs::directory_iterator(ToFileSystemPath(data_folder), ec)) {
    if (!domain.is_directory(ec)) continue;
    const std::string directory = DomainDirectory(data_folder, domain.path().filename().string());
    for (const fs::directory_entry& file : fs::directory_iterator(domain.path(), ec)) {
      const std::string name = file.path().filename().string();
      if (IsModelFileName(name) && file.is_regular_file(ec)) paths.push_back(directory + "\\" + name);
    }
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// Every model of the database, as the paths of their files.
std::vector<std::string> DatabaseModels(const std::string& conninfo, const std::string& data_folder) {
  std::vector<std::string> paths;
  auto db = postgres::Connection::Open(conninfo);
  for (const postgres::ModelName& model : postgres::PostgresModelStore::List(*db)) {
    if (model.kind == postgres::ModelKind::kDomain) {
      paths.push_back(DomainModelPath(data_folder, model.name));
      continue;
    }
    const size_t slash = model.name.find('\\');
    if (slash == std::string::npos) continue;  // not of this layout: no file to put it in
    const std::string directory = DomainDirectory(data_folder, model.name.substr(0, slash));
    fs::create_directories(ToFileSystemPath(directory));
    paths.push_back(directory + "\\" + model.name.substr(slash + 1));
  }
  return paths;
}

void RunTransfer(Session& session, bool to_database) {
  const hosting::HomeConfig& config = session.Config();
  if (config.engine_store != hosting::kPostgresModelStore) {
    throw hosting::CommandError("[engine] store is not postgresql: name the database in varnolt.conf first");
  }
  const std::string data_folder = session.DataFolder();
  engine::FileModelBackend files(std::make_shared<engine::ModelCache>());
  engine::PostgresModelBackend database(config.engine_postgresql);
  engine::ModelBackend& from = to_database ? static_cast<engine::ModelBackend&>(files) : database;
  engine::ModelBackend& to = to_database ? static_cast<engine::ModelBackend&>(database) : files;
  const std::vector<std::string> paths =
      to_database ? ModelFiles(data_folder) : DatabaseModels(config.engine_postgresql, data_folder);
  int models = 0;
  SpamCounts learned;
  for (const std::string& path : paths) {
    engine::ModelLease source = from.Open(path, engine::ModelOpen::kExistingOnly);
    if (!source) continue;  // a file never written: nothing learned
    engine::ModelLease target = to.Open(path, engine::ModelOpen::kCreate);
    const engine::ModelContents copied = engine::CopyModel(*source.get(), *target.get());
    source.Keep();
    target.Keep();
    ++models;
    learned.ham += copied.totals.ham;
    learned.spam += copied.totals.spam;
  }
  std::cout << (to_database ? "imported " : "exported ") << models << " model(s) "
            << (to_database ? "from the files into PostgreSQL" : "from PostgreSQL into the files") << " ("
            << learned.ham << " HAM, " << learned.spam << " SPAM messages learned in all); each read back equal\n";
}

}  // namespace

void AddModelTransferCommands(CLI::App& app, Session& session) {
  CLI::App* model = app.get_subcommand("model");
  model->add_subcommand("import", "Copy every model file of the data folder into the PostgreSQL database "
                                  "([engine] postgresql), replacing what the database held for each")
      ->callback([&session] { RunTransfer(session, true); });
  model->add_subcommand("export", "Copy every model of the PostgreSQL database into the files of the data "
                                  "folder, replacing what each file held")
      ->callback([&session] { RunTransfer(session, false); });
}

}  // namespace varnolt::cli
