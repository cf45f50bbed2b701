#pragma once
// "Assign Addresses" (dialog template 120), modeless, owned by the main
// window, for the rows selected: the three fields (prefilled from the first
// camera's network), the plan's message, the cameras with their planned
// addresses and results (Dev ID, MAC, IP, New IP, Result), the addresses
// passed over, the counts, Apply and Close. What it shows and decides is the
// core's AssignModel; Apply hands the orders to the main window's engine.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/AssignModel.h"

namespace qdipc::win {

class AssignWindow {
public:
    using ResultSink = std::function<void(std::size_t, const ProvisioningCamera&)>;
    // Starts a batch with the orders; answers why nothing was sent (else "").
    using Starter = std::function<std::string(std::vector<AssignOrder>, ResultSink)>;

    AssignWindow(std::vector<AssignCamera> batch, AssignSurroundings surroundings,
                 AddressReservations* reservations, Starter start);
    ~AssignWindow();
    AssignWindow(const AssignWindow&) = delete;
    AssignWindow& operator=(const AssignWindow&) = delete;

    bool Create(HWND owner);
    HWND Handle() const { return m_hwnd; }
    const AssignModel& Model() const { return m_model; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Replan();
    void Apply();
    void Show();

    AssignModel m_model;
    Starter m_start;
    std::vector<int> m_runRows;
    // Alive as long as the window: a run's results may come after it closed.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    bool m_filling = false;
    HWND m_hwnd = nullptr;
};

}  // namespace qdipc::win
