#pragma once

// The published status of a Player, stored as int.
enum PlayerStatus {
    Changing = 0,
    Off = 1,
    OnAir = 2,
    Error = 3,
};
