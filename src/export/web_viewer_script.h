#pragma once

namespace modrin::exporters {

// The viewer of a web page, a script run after three.js, its OrbitControls and its GLTFLoader.
// It reads its settings from the JSON of the element "modrin-settings":
//   model, modelScript  the .glb's URL and the URL of the script holding it in base64
//   background          the clear colour, "#rrggbb"
//   width, height       the canvas size in CSS pixels; 0 follows the browser window
//   bearingMiddle       the middle of the allowed horizontal angles, in degrees
//   bearingHalfSpan     half their span in degrees; null: the model turns all the way round
//   elevationMin, elevationMax  the allowed vertical angles, in degrees from -90 to 90
// A horizontal angle (bearing) of 0 looks at the model's front, from the world's -y side; 90
// from its +x side. The vertical angle (elevation) is the view's height above the horizon.
// For tests and pages that build on it, the script leaves window.modrinViewer: loaded and error
// (null, or the text shown on the page), the three.js renderer, scene, camera and controls,
// and bearing() and elevation(), the view's angles in degrees as above.
inline constexpr char kWebViewerScript[] = R"js((function () {
  'use strict';
  var settings = JSON.parse(document.getElementById('modrin-settings').textContent);
  var degree = Math.PI / 180;
  var viewer = { loaded: false, error: null };
  window.modrinViewer = viewer;

  function showError(text) {
    viewer.error = text;
    var message = document.getElementById('modrin-message');
    message.textContent = text;
    message.hidden = false;
  }
  if (typeof THREE === 'undefined' || !THREE.OrbitControls || !THREE.GLTFLoader) {
    showError('The viewer scripts are missing: copy the js folder with the page.');
    return;
  }
  var canvas = document.getElementById('modrin-view');
  var renderer;
  try {
    renderer = new THREE.WebGLRenderer({ canvas: canvas, antialias: true });
  } catch (error) {
    showError('This browser cannot show 3D graphics (WebGL is off or missing).');
    return;
  }
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  renderer.setClearColor(settings.background);
  var scene = new THREE.Scene();
  // The controls keep the camera's azimuth in one span around 0, so the model is turned to
  // put the middle of its allowed bearings there; a span across 180 degrees then works too.
  var turntable = new THREE.Group();
  turntable.rotation.y = -settings.bearingMiddle * degree;
  scene.add(turntable);
  var camera = new THREE.PerspectiveCamera(40, 1, 0.01, 100);
  var controls = new THREE.OrbitControls(camera, canvas);
  var half = settings.bearingHalfSpan;
  controls.minAzimuthAngle = half === null ? -Infinity : -half * degree;
  controls.maxAzimuthAngle = half === null ? Infinity : half * degree;
  controls.minPolarAngle = (90 - settings.elevationMax) * degree;
  controls.maxPolarAngle = (90 - settings.elevationMin) * degree;
  // Panning would move the turning centre off the model.
  controls.enablePan = false;
  controls.enableKeys = false;

  function render() {
    renderer.render(scene, camera);
  }
  function resize() {
    var width = settings.width || window.innerWidth;
    var height = settings.height || window.innerHeight;
    renderer.setSize(width, height);
    camera.aspect = width / Math.max(height, 1);
    camera.updateProjectionMatrix();
    render();
  }
  controls.addEventListener('change', render);
  if (!settings.width || !settings.height) window.addEventListener('resize', resize);
  resize();

  function clamp(value, low, high) {
    return Math.min(Math.max(value, low), high);
  }
  // The first view: from 30 degrees right of the front and 20 above the horizon, or the
  // allowed angles nearest to that.
  function startAngles() {
    var bearing = ((30 - settings.bearingMiddle) % 360 + 540) % 360 - 180;
    if (half !== null) bearing = clamp(bearing, -half, half);
    return { azimuth: bearing, polar: 90 - clamp(20, settings.elevationMin, settings.elevationMax) };
  }
  // Places the camera so that the model's bounding sphere fills the canvas with a margin.
  function fit(model) {
    scene.updateMatrixWorld(true);
    var box = new THREE.Box3().setFromObject(model);
    var centre = box.getCenter(new THREE.Vector3());
    var radius = box.getSize(new THREE.Vector3()).length() / 2 || 1;
    var halfHeight = camera.fov / 2 * degree;
    var halfWidth = Math.atan(Math.tan(halfHeight) * camera.aspect);
    var distance = 1.1 * radius / Math.sin(Math.min(halfHeight, halfWidth));
    camera.near = distance / 100;
    camera.far = distance * 20;
    camera.updateProjectionMatrix();
    controls.minDistance = distance / 5;
    controls.maxDistance = distance * 5;
    var start = startAngles();
    camera.position.setFromSphericalCoords(distance, start.polar * degree, start.azimuth * degree);
    camera.position.add(centre);
    controls.target.copy(centre);
    controls.update();
  }
  function show(gltf) {
    // The textures are the photos as they are: their bytes go to the screen unconverted.
    gltf.scene.traverse(function (node) {
      if (node.material && node.material.map) {
        node.material.map.encoding = THREE.LinearEncoding;
        node.material.needsUpdate = true;
      }
    });
    turntable.add(gltf.scene);
    fit(gltf.scene);
    render();
    viewer.loaded = true;
  }
  function failed(error) {
    showError('The model could not be loaded: ' + ((error && error.message) || error));
  }
  function loadFromScript() {
    var script = document.createElement('script');
    script.onload = function () {
      var text = atob(window.modrinModel || '');
      var bytes = new Uint8Array(text.length);
      for (var i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
      new THREE.GLTFLoader().parse(bytes.buffer, '', show, failed);
    };
    script.onerror = function () {
      failed(settings.modelScript + ' is missing beside the page');
    };
    script.src = settings.modelScript;
    document.head.appendChild(script);
  }

  viewer.renderer = renderer;
  viewer.scene = scene;
  viewer.camera = camera;
  viewer.controls = controls;
  viewer.bearing = function () {
    return settings.bearingMiddle + controls.getAzimuthalAngle() / degree;
  };
  viewer.elevation = function () {
    return 90 - controls.getPolarAngle() / degree;
  };
  // A page opened from a file may not fetch the file beside it (and the refusal is logged as an
  // error), so it takes the script at once; elsewhere the script is only loaded when the fetch
  // fails, so that visitors download the model once.
  if (location.protocol === 'file:') {
    loadFromScript();
  } else {
    new THREE.GLTFLoader().load(settings.model, show, undefined, loadFromScript);
  }
})();
)js";

}  // namespace modrin::exporters
