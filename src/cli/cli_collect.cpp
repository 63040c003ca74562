// SPDX-License-Identifier: Apache-2.0
#include "cli/cli_collect.h"

#include <ostream>

#include "central/central_history.h"
#include "cli/cli_options.h"
#include "cli/cli_runner.h"

namespace wct::cli {

void DeclareCollectOptions(TCommand& collect, TCollectOptions& o) {
    central::TCollectorSettings& s = o.settings;
    collect.Option("--broker", "URL", "mqtt://host:port or mqtts://host:port", Text(o.broker))
        .Option("--db", "URL", "the central history: postgresql://[host][:port]/database[?...]",
                Text(s.db))
        .Option("--tls-ca", "FILE", "the certificate authority a mqtts broker is checked with",
                Text(s.tlsCa))
        .Option("--username", "U", "the broker's user", Text(s.username))
        .Option("--password-file", "FILE", "the file whose first line is the broker's password",
                Text(o.passwordFile))
        .Option(
            "--password", "P", "refused: a password never goes on the command line",
            [](const std::string&, const std::string&) {
                throw EUsage("a password is never given on the command line: use --password-file");
            })
        .Require("--broker", "collect needs --broker URL")
        .Require("--db", "collect needs --db postgresql://...")
        .Check([&o, &s] {
            if (!central::IsCentralUrl(s.db))
                throw EUsage("collect: --db wants a postgresql:// URL, not '" + s.db + "'");
            if (const std::string problem = central::CentralUrlProblem(s.db); !problem.empty())
                throw EUsage("--db: " + problem);
            try {
                s.broker = publish::ParseBrokerUrl(o.broker);
                if (o.passwordFile && s.username.empty())
                    throw EUsage("--password-file needs --username");
                if (o.passwordFile) s.password = publish::ReadPasswordFile(*o.passwordFile);
            } catch (const publish::EBrokerSettings& e) {
                throw EUsage(e.what());
            }
            if (!s.tlsCa.empty() && !s.broker.tls)
                throw EUsage("a TLS CA file needs an mqtts:// broker");
        });
}

int RunCollect(const TCollectOptions& o, std::ostream& out, std::ostream& err,
               const volatile bool* interrupted) {
    central::TRecordCollector collector(o.settings);
    collector.OnNotice = [&err](const std::string& text) { err << "wct: " << text << std::endl; };
    try {
        collector.Run(interrupted);
    } catch (const std::exception& e) {
        err << "wct: " << e.what() << '\n';
        return exFailed;
    }
    const central::TCollectorCounters counters = collector.Counters();
    out << "stored " << counters.stored << " again " << counters.again << " rejected "
        << counters.rejected << std::endl;
    return exDone;
}

}  // namespace wct::cli
