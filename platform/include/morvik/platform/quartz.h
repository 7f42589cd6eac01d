// Umbrella header of the quartz layer (Core Graphics and QuartzCore stand-ins).
#pragma once
#include <morvik/platform/quartz/CAAnimation.h>
#include <morvik/platform/quartz/CAGradientLayer.h>
#include <morvik/platform/quartz/CALayer.h>
#include <morvik/platform/quartz/CAShapeLayer.h>
#include <morvik/platform/quartz/CATransaction.h>
#include <morvik/platform/quartz/CGColor.h>
#include <morvik/platform/quartz/CGContext.h>
#include <morvik/platform/quartz/CGGeometry.h>
#include <morvik/platform/quartz/CGImage.h>
#include <morvik/platform/quartz/CGPath.h>
#include <morvik/platform/quartz/UIBezierPath.h>
