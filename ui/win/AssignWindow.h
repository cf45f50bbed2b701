#pragma once
// "Assign Addresses" (dialog template 120), modeless, owned by the main
// window, for the rows selected: the three fields (prefilled from the first
// camera's network), the plan's message, the cameras with their planned
// settings and results (Dev ID, MAC, IP, New IP, Mask, Gateway, Mode,
// Result, Reason), the addresses passed over, the rollback plan, the counts,
// and Apply, "Retry Unconfirmed", "Undo This Run", "Export Results…" and
// Close. Opened with a plan file ("Apply Plan…"), it shows the file's lines
// instead of the fields, and Apply runs them. What it shows and decides is
// the core's AssignModel; its runs are the main window's engine's batches
// (ChangeRuns).

#include <windows.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/AssignModel.h"
#include "ui/ChangeRuns.h"

namespace qdipc::win {

class AssignWindow {
public:
    // Starts a batch with the orders; its results and state reach the sinks.
    using Starter = std::function<void(std::vector<AssignOrder>, ChangeRuns::BatchSinks)>;
    // Asks where "Export Results…" writes; an empty answer writes nothing.
    using ChooseFile = std::function<std::wstring(HWND owner)>;

    AssignWindow(std::vector<AssignCamera> batch, AssignSurroundings surroundings,
                 AddressReservations* reservations, Starter start, ChooseFile chooseExport);
    // "Apply Plan…": the lines of an opened plan, titled "Apply Plan <file>".
    AssignWindow(ProvisioningPlan plan, const std::string& fileName,
                 AssignSurroundings surroundings, AddressReservations* reservations, Starter start,
                 ChooseFile chooseExport);
    ~AssignWindow();
    AssignWindow(const AssignWindow&) = delete;
    AssignWindow& operator=(const AssignWindow&) = delete;

    bool Create(HWND owner);
    // Remembers the fields applied per network in file (AssignMemory) and
    // shows those last applied on this batch's network, unless the operator
    // has edited them already. Empty: nothing is remembered.
    void RememberFieldsIn(std::filesystem::path file);
    HWND Handle() const { return m_hwnd; }
    const AssignModel& Model() const { return m_model; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // The fields as the plan takes them (trimmed), and filled in.
    AssignFields Fields() const;
    void SetFields(const AssignFields& fields);
    void Replan();
    void Apply();
    void Retry();
    void Undo();
    void Export();
    // Starts a run of these orders; order i is row rows[i].
    void StartOrders(std::vector<AssignOrder> orders, const std::vector<int>& rows);
    void Show();

    AssignModel m_model;
    Starter m_start;
    ChooseFile m_chooseExport;
    std::string m_title = "Assign Addresses";
    // Alive as long as the window: a run's results may come after it closed.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    // Which run's results count: a newer run's, not a finished one's.
    int m_runNumber = 0;
    AssignFields m_prefill;
    bool m_filling = false;
    bool m_ranOnce = false;
    HWND m_hwnd = nullptr;
};

}  // namespace qdipc::win
