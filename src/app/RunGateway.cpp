#include "app/RunGateway.h"

#include "nls/TextIds.h"
#include "service/ServiceControl.h"
#include "service/ServiceProcess.h"
#include "toolkit/Cp1250.h"
#include "toolkit/DesktopView.h"
#include "toolkit/Forms.h"
#include "toolkit/IniFile.h"
#include "toolkit/TextSource.h"

namespace vantor {

namespace {

// The start-up check of the service shows no message box: it needs no texts.
class NoTexts final : public TextSource {
public:
    std::string Msg(int) const override { return {}; }
    std::string Text(int) override { return {}; }
};

// The application with its main window, as every start path runs it.
class GatewayProcess {
public:
    GatewayProcess(const GatewayRun& run, GatewayEnvironment env)
        : run_(run), env_(std::move(env)), app_(*run.loop, *run.desktop) {
        // The main window shows itself in its start-up, or stays hidden
        // (/hide, the service).
        app_.SetShowMainForm(false);
        if (run.view) ConnectView(*run.view);
    }

    GatewayEnvironment& Environment() { return env_; }
    TApplication& App() { return app_; }
    TMainForm* MainForm() const { return mainForm_.get(); }

    // Creates the main window, which starts the gateway; an exception is
    // shown in the exception box and passed on.
    void Create() {
        try {
            mainForm_ = std::make_unique<TMainForm>(app_, std::move(env_));
        } catch (const std::exception& e) {
            app_.ShowException(e);
            throw;
        }
    }
    // Runs until the application is terminated.  Anything that reaches the
    // loop is shown and the gateway goes on.
    void Run() {
        run_.loop->setExceptionHandler([this](const std::exception& e) { app_.ShowException(e); });
        if (run_.started) run_.started(app_, *mainForm_);
        app_.Run();
    }
    // Closing the main window ends the run.
    void Stop() {
        if (mainForm_) mainForm_->Close();
        app_.Terminate();
    }
    void Destroy() { mainForm_.reset(); }

private:
    void ConnectView(DesktopView& view) {
        view.SetTrayCallback([this](unsigned message) {
            if (mainForm_) mainForm_->TrayCallback(message);
        });
        view.SetHelpSources(
            env_.languageFolders,
            [this]() -> std::string {
                return mainForm_ ? mainForm_->Core().Language() : std::string("Eng");
            },
            [this] {
                if (!mainForm_) return DesktopHelpTexts{};
                const TextSource& language = mainForm_->Core().Texts();
                return DesktopHelpTexts{language.Msg(msg::HelpFileNotFound),
                                        language.Msg(msg::HelpNotOpened)};
            });
    }

    const GatewayRun& run_;
    GatewayEnvironment env_;
    TApplication app_;
    std::unique_ptr<TMainForm> mainForm_;
};

int RunOrdinary(GatewayProcess& gateway, const GatewayRun& run) {
    GatewayEnvironment& env = gateway.Environment();
    if (run.serviceCheck || run.serviceControlManagerCheck) {
        const std::unique_ptr<ServiceManager> manager =
            run.serviceCheck ? run.serviceCheck() : nullptr;
        const std::unique_ptr<ServiceControlManager> scm =
            run.serviceControlManagerCheck ? run.serviceControlManagerCheck() : nullptr;
        const NoTexts noTexts;
        ServiceControl control(
            ServiceControlParts{.manager = manager.get(), .texts = noTexts, .scm = scm.get()});
        std::string why;
        env.serviceRunningElsewhere = control.IsServiceRunning(&why);
        env.serviceCheckFailure = Cp1250FromUtf8(why);
    }
    // Watching from before the start: a stop request during start-up is
    // taken up as soon as the loop runs.
    std::unique_ptr<SystemRequestWatch> requests;
    try {
        if (run.watchRequests)
            requests = run.watchRequests(*run.loop, [&gateway](SystemRequest) { gateway.Stop(); });
    } catch (const std::exception& e) {
        gateway.App().ShowException(e);
        return 1;
    }
    try {
        gateway.Create();
    } catch (const std::exception&) {
        return 0; // shown in the exception box
    }
    gateway.Run();
    gateway.Destroy();
    return 0;
}

int RunService(GatewayProcess& gateway, const GatewayRun& run) {
    ServiceProcess service(*run.serviceNotifier, *run.eventLog, *run.loop);
    service.SetInstance(run.serviceInstance);
    GatewayEnvironment& env = gateway.Environment();
    env.serviceMode = true;
    env.serviceRunningElsewhere = false;
    env.serviceEventLog = [&service](const std::string& message, int type) {
        service.LogServiceEvent(message, type);
    };
    bool configurationUnusable = false;
    std::unique_ptr<SystemRequestWatch> requests;
    ServiceHost host;
    host.registerControlHandler = [&](std::function<void(std::uint32_t)> handler) {
        if (!run.watchRequests) return false;
        try {
            requests = run.watchRequests(*run.loop, [handler](SystemRequest request) {
                handler(request == SystemRequest::Stop          ? SERVICE_CONTROL_STOP
                        : request == SystemRequest::ReportState ? SERVICE_CONTROL_INTERROGATE
                                                                : SERVICE_CONTROL_PARAMCHANGE);
            });
            return true;
        } catch (const std::exception& e) {
            gateway.App().ShowException(e);
            return false;
        }
    };
    host.createGateway = [&] {
        try {
            gateway.Create();
        } catch (const EIniFileError&) {
            configurationUnusable = true;
            throw;
        }
    };
    host.health = [&] {
        return gateway.MainForm() ? gateway.MainForm()->Core().Health() : GatewayHealth{};
    };
    host.runGateway = [&] { gateway.Run(); };
    host.stopGateway = [&] {
        gateway.Stop();
        gateway.App().ProcessMessages();
    };
    host.destroyGateway = [&] { gateway.Destroy(); };
    if (service.RunServiceDispatcher(std::move(host))) return 0;
    return configurationUnusable ? ExitConfigurationUnusable : 1;
}

} // namespace

int RunGateway(GatewayEnvironment env, const GatewayRun& run) {
    if (run.platformEdges) run.platformEdges(env, *run.loop);
    // In a window the log is the window's list, not standard output.
    if (run.view) env.logMirror = nullptr;
    GatewayProcess gateway(run, std::move(env));
    const bool service = run.serviceNotifier && run.eventLog;
    return service ? RunService(gateway, run) : RunOrdinary(gateway, run);
}

} // namespace vantor
