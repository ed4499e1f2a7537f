// The graphics services the whole program draws with: displays and windows, the screen and its
// paced frame cycle, the sprite table with its three kinds of draw, 2D boxes on the screen, on
// sprites and on off-screen images, gradients, and the small services (random numbers, time,
// colours, the Escape key). One thread calls them; they take no locks.
#pragma once

#include <cstddef>
#include <cstdint>

// Colour: red in bits 0-7, green 8-15, blue 16-23, bits 24-31 zero. -1 means "no colour".
using Colour = int32_t;
using SpriteId = int32_t;
using ImageId = int32_t;
using DrawTarget = int64_t;  // 0: none
using ImageHandle = int64_t; // 0: none
using WindowHandle = uintptr_t;

constexpr Colour noColour = -1;
constexpr int32_t gradientMode = 64;

// Window options.
constexpr uint32_t windowBorderless = 1;
constexpr uint32_t windowCentred = 2;

// --- displays and windows ---
int32_t examineDisplays();
int32_t displayDepth(int32_t index);
int32_t openWindow(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                   const char* title, uint32_t options);
WindowHandle windowHandle(int32_t number);
void keepWindowOnTop(int32_t number, int32_t on);
void closeWindow(int32_t number);
int32_t pollWindowEvent();

// --- screens and frames ---
int32_t openFullScreen(int32_t width, int32_t height, int32_t depth, const char* title);
int32_t openWindowedScreen(WindowHandle window, int32_t x, int32_t y, int32_t width,
                           int32_t height);
int32_t setFrameRate(int32_t rate);
void clearScreen(Colour colour);
int32_t flipBuffers();
void closeScreen();

// --- sprites ---
int32_t initSprites();
int32_t loadSprite(SpriteId id, const uint8_t* file, size_t size);
int32_t createSprite(SpriteId id, int32_t width, int32_t height);
int32_t grabSprite(SpriteId id, int32_t x, int32_t y, int32_t width, int32_t height);
int32_t spriteExists(SpriteId id);
int32_t spriteWidth(SpriteId id);
int32_t spriteHeight(SpriteId id);
void clipSprite(SpriteId id, int32_t x, int32_t y, int32_t width, int32_t height);
void setKeyColour(SpriteId id, Colour colour);
void drawOpaque(SpriteId id, int32_t x, int32_t y);
void drawKeyed(SpriteId id, int32_t x, int32_t y);
void drawTinted(SpriteId id, int32_t x, int32_t y, int32_t intensity, Colour colour);

// --- 2D drawing ---
DrawTarget screenTarget();
DrawTarget spriteTarget(SpriteId id);
int32_t beginDrawing(DrawTarget target);
void endDrawing();
void drawBox(int32_t x, int32_t y, int32_t width, int32_t height);
void drawBox(int32_t x, int32_t y, int32_t width, int32_t height, Colour colour);

// --- off-screen images and gradients ---
int32_t createImage(ImageId id, int32_t width, int32_t height);
ImageHandle imageHandle(ImageId id);
DrawTarget imageTarget(ImageId id);
void setDrawingMode(int32_t mode);
void addGradientStop(float position, Colour colour);
void setLinearGradient(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
Colour readPixel(int32_t x, int32_t y);
void drawImage(ImageHandle image, int32_t x, int32_t y);

// --- small services ---
int32_t randomInt(int32_t max);
int32_t randomInRange(int32_t max, int32_t min);
int64_t elapsedMilliseconds();
void delay(int32_t milliseconds);
float degreesToRadians(float degrees);
Colour rgb(int32_t red, int32_t green, int32_t blue);
int16_t escapePressed();
void showCursor(bool show);
int16_t keyState(int32_t virtualKey);

// Releases everything the services hold (sprites, images, screen, windows) and forgets all state,
// so that the services start again as at program start.
void releaseGraphics();
